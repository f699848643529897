// The whole road: a run of the program writes the ranking page, Debian's Chromium (headless,
// driven over WebDriver) fills in and submits it to a zelka-rank started here, and the
// ranking then shows the entry with the texts typed and the page's scores; the reply's
// withdrawal link, opened and confirmed, takes it out again.
#include "TestServers.h"
#include "platform/CP932.h"
#include "rank/RankStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <httplib.h>
#include <thread>

namespace {

// WebDriver over HTTP: one session of chromedriver.
class WebDriver {
public:
    explicit WebDriver(int port) : client_("127.0.0.1", port) {
        client_.set_read_timeout(60, 0);
        client_.set_connection_timeout(5, 0);
    }

    QJsonValue Call(const char* method, const std::string& path, const QJsonObject& body = {}) {
        const std::string full =
            path.starts_with("/session") || session_.empty() ? path : "/session/" + session_ + path;
        httplib::Result res = std::string(method) == "GET" ? client_.Get(full)
                              : std::string(method) == "DELETE"
                                  ? client_.Delete(full)
                                  : client_.Post(full, QJsonDocument(body).toJson().toStdString(),
                                                 "application/json");
        if (!res)
            return QJsonValue("no answer from chromedriver");
        last_ = res->status;
        return QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()["value"];
    }
    bool Ok() const { return last_ == 200; }

    bool Open(const QStringList& arguments) {
        const QJsonObject options{{"binary", "/usr/bin/chromium"},
                                  {"args", QJsonArray::fromStringList(arguments)}};
        const QJsonObject caps{{"alwaysMatch", QJsonObject{{"goog:chromeOptions", options}}}};
        const QJsonValue v = Call("POST", "/session", {{"capabilities", caps}});
        session_ = v["sessionId"].toString().toStdString();
        return !session_.empty();
    }
    void Close() {
        if (!session_.empty())
            Call("DELETE", "/session/" + session_);
        session_.clear();
    }
    std::string Element(const QString& css) {
        const QJsonObject e =
            Call("POST", "/element", {{"using", "css selector"}, {"value", css}}).toObject();
        return e.isEmpty() ? "" : e.begin().value().toString().toStdString();
    }
    void Type(const QString& css, const QString& text) {
        Call("POST", "/element/" + Element(css) + "/value", {{"text", text}});
    }
    QJsonValue Script(const QString& script) {
        return Call("POST", "/execute/sync", {{"script", script}, {"args", QJsonArray()}});
    }

private:
    httplib::Client client_;
    std::string session_;
    int last_ = 0;
};

// The browser's view as ZELKA_SCREENSHOT_DIR/NAME, when that is set.
void Screenshot(WebDriver& web, const char* name) {
    const QByteArray shots = qgetenv("ZELKA_SCREENSHOT_DIR");
    if (shots.isEmpty())
        return;
    QFile shot(QDir(QString::fromLocal8Bit(shots)).filePath(name));
    if (shot.open(QIODevice::WriteOnly))
        shot.write(QByteArray::fromBase64(web.Call("GET", "/screenshot").toString().toLatin1()));
}

QString FirstLine(QProcess& p, int timeoutMs) {
    while (!p.canReadLine() && p.waitForReadyRead(timeoutMs)) {
    }
    return QString::fromUtf8(p.readLine()).trimmed();
}

} // namespace

TEST(RankBrowser, ARunsPageSubmittedFromChromiumShowsInTheRanking) {
    for (const char* tool : {"/usr/bin/chromium", "/usr/bin/chromedriver"})
        ASSERT_TRUE(QFile::exists(tool)) << tool << " is missing (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    QProcess service;
    service.start(ZELKA_RANK_BINARY,
                  {"--listen", "127.0.0.1:0", "--db", dir.filePath("rank.sqlite")});
    const QString listening = FirstLine(service, 20000);
    const QRegularExpressionMatch address =
        QRegularExpression("^listening on (http://127\\.0\\.0\\.1:\\d+)$").match(listening);
    ASSERT_TRUE(address.hasMatch()) << listening.toStdString();
    const QString base = address.captured(1);

    // A short run: the CPU test only, the other panels stay 0, the page carries every field.
    QProcess zelka;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZELKA_RANK_URL", base + "/cgi-bin/zelka.cgi");
    env.insert("HOME", dir.path());
    env.insert("XDG_DATA_HOME", dir.filePath("data"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    zelka.setProcessEnvironment(env);
    zelka.setWorkingDirectory(dir.path());
    zelka.start(ZELKA_BINARY, {"--run", "--headless", "--tests", "cpu", "--rank-page"});
    ASSERT_TRUE(zelka.waitForFinished(120000));
    ASSERT_EQ(zelka.exitCode(), 0) << zelka.readAllStandardError().toStdString();
    QFile pageFile(dir.filePath("intsc.htm"));
    ASSERT_TRUE(pageFile.open(QIODevice::ReadOnly));
    const QString page = FromCP932(pageFile.readAll().toStdString());
    EXPECT_TRUE(page.contains("\"" + base + "/cgi-bin/zelka.cgi\">")) << page.toStdString();
    QStringList scores;
    for (const char* field : {"sc", "sc1", "sc2", "sc3", "sc4", "sc5"}) {
        const auto m =
            QRegularExpression(QString("NAME=\"%1\" +VALUE=\"(\\d+)\"").arg(field)).match(page);
        ASSERT_TRUE(m.hasMatch()) << field;
        scores << m.captured(1);
    }
    EXPECT_NE(scores[1], "0");

    const int driverPort = FreePort();
    QProcess driver;
    driver.start("/usr/bin/chromedriver", {QString("--port=%1").arg(driverPort)});
    ASSERT_TRUE(driver.waitForStarted());
    WebDriver web(driverPort);
    for (int i = 0; i < 100 && !web.Call("GET", "/status")["ready"].toBool(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // chromedriver starting
    ASSERT_TRUE(
        web.Open({"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1400,700", "--user-data-dir=" + dir.filePath("profile")}));

    const QString name = "山田太郎";
    const QString comment = "ゼルカで計測しました！①é";
    web.Call("POST", "/url", {{"url", "file://" + dir.filePath("intsc.htm")}});
    const QString charset = web.Script("return document.characterSet").toString();
    web.Type("input[name=name]", name);
    web.Type("input[name=com]", comment);
    web.Type("input[name=cpu]", "Pentium MMX 233MHz");
    web.Call("POST", "/element/" + web.Element("input[name=B1]") + "/click");
    QString title;
    for (int i = 0; i < 100 && !title.contains("登録しました"); ++i) {
        title = web.Script("return document.title").toString();
        if (!title.contains("登録しました"))
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the reply loading
    }
    EXPECT_EQ(title, "ゼルカ ランキング：登録しました")
        << "page shown in " << charset.toStdString();
    const QString withdrawal =
        web.Script("return document.getElementById('withdraw').href").toString();
    EXPECT_TRUE(QRegularExpression("^" + QRegularExpression::escape(base) +
                                   "/withdraw/\\d+\\?token=[0-9a-f]{32}$")
                    .match(withdrawal)
                    .hasMatch())
        << withdrawal.toStdString();
    Screenshot(web, "reply.png");

    web.Call("POST", "/url", {{"url", base + "/"}});
    const QJsonArray rows = web.Script("return Array.from(document.querySelectorAll('tbody tr'))"
                                       ".map(r => Array.from(r.cells).map(c => c.textContent))")
                                .toArray();
    ASSERT_EQ(rows.size(), 1);
    const QJsonArray cells = rows[0].toArray();
    ASSERT_EQ(cells.size(), 14);
    EXPECT_EQ(cells[0].toString(), "1");
    EXPECT_EQ(cells[1].toString(), name);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(cells[2 + i].toString(), scores[i]) << i;
    EXPECT_EQ(cells[8].toString(), "Pentium MMX 233MHz");
    EXPECT_EQ(cells[12].toString(), comment);
    Screenshot(web, "ranking.png");

    // The reply's link, confirmed, takes the entry out of the ranking.
    web.Call("POST", "/url", {{"url", withdrawal}});
    EXPECT_EQ(web.Script("return document.title").toString(), "ゼルカ ランキング：登録の取り下げ");
    web.Call("POST", "/element/" + web.Element("#confirm") + "/click");
    for (int i = 0; i < 100 && !title.contains("取り下げました"); ++i) {
        title = web.Script("return document.title").toString();
        if (!title.contains("取り下げました"))
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the reply loading
    }
    EXPECT_EQ(title, "ゼルカ ランキング：取り下げました");
    Screenshot(web, "withdrawn.png");
    web.Call("POST", "/url", {{"url", base + "/"}});
    EXPECT_EQ(web.Script("return document.querySelectorAll('tbody tr').length").toInt(), 0);
    EXPECT_TRUE(
        web.Script("return document.body.textContent").toString().contains("まだ登録はありません"));
    Screenshot(web, "ranking-after-withdrawal.png");
    web.Close();
    driver.kill();
    driver.waitForFinished();
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

// The comparing pages as a browser draws them: a model's page, an entry's page and the
// comparison its form opens, and the statistics, with their SVG histograms laid out.
TEST(RankBrowser, ModelComparisonAndStatisticsPagesRender) {
    QTemporaryDir dir;
    const QString db = dir.filePath("rank.sqlite");
    {
        RankStore store(db.toStdString());
        store.CreateSchema();
        const char* cpus[] = {"Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "intel core i7-8700k",
                              "Core i7-8700K", "Pentium MMX 233MHz", "AMD K6-2 350MHz"};
        for (int n = 0; n < 40; ++n) {
            RankSubmission s;
            std::int64_t sum = 0;
            for (int k = rsCpu; k <= rsDisk; ++k)
                sum += s.scores[k] = 1000 * k + 50 * (n * 7 % 40); // none held for review
            s.scores[rsOverall] = static_cast<std::int32_t>(sum / 5);
            s.text = {"計測者" + std::to_string(n),
                      cpus[n % 5],
                      n % 2 ? "Voodoo2" : "GeForce 256",
                      "64MB",
                      "4.3GB",
                      ""};
            store.Add(s, 1'800'000'000 + n);
        }
    }
    QProcess service;
    service.start(ZELKA_RANK_BINARY, {"--listen", "127.0.0.1:0", "--db", db});
    const QRegularExpressionMatch address =
        QRegularExpression("^listening on (http://127\\.0\\.0\\.1:\\d+)$")
            .match(FirstLine(service, 20000));
    ASSERT_TRUE(address.hasMatch());
    const QString base = address.captured(1);
    const int driverPort = FreePort();
    QProcess driver;
    driver.start("/usr/bin/chromedriver", {QString("--port=%1").arg(driverPort)});
    ASSERT_TRUE(driver.waitForStarted());
    WebDriver web(driverPort);
    for (int i = 0; i < 100 && !web.Call("GET", "/status")["ready"].toBool(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // chromedriver starting
    ASSERT_TRUE(
        web.Open({"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--window-size=1400,1000", "--user-data-dir=" + dir.filePath("profile")}));
    // Each histogram drawn at its size, with bars.
    const QString histograms =
        "return Array.from(document.querySelectorAll('svg.hist')).map(s => "
        "[Math.round(s.getBoundingClientRect().width), s.querySelectorAll('rect').length])";

    web.Call("POST", "/url", {{"url", base + "/cpu/core%20i7-8700k"}});
    EXPECT_EQ(web.Script("return document.title").toString(),
              "ゼルカ ランキング：CPU core i7-8700k");
    const QJsonArray modelHistograms = web.Script(histograms).toArray();
    ASSERT_EQ(modelHistograms.size(), 6);
    for (const QJsonValue h : modelHistograms) {
        EXPECT_EQ(h[0].toInt(), 362); // 360 and the border
        EXPECT_GT(h[1].toInt(), 0);
    }
    // The figures' table and the model's 24 entries (three spellings, 8 each).
    EXPECT_EQ(web.Script("return document.querySelectorAll('table.stats tbody tr').length").toInt(),
              6);
    EXPECT_TRUE(web.Script("return document.body.textContent").toString().contains("登録数 24 件"));
    Screenshot(web, "model.png");

    // The entry page's form compares it with two others.
    web.Call("POST", "/url", {{"url", base + "/entry/1"}});
    EXPECT_EQ(web.Script("return document.querySelectorAll('#standing tbody tr').length").toInt(),
              6);
    EXPECT_EQ(web.Script("return document.querySelectorAll('line.mark').length").toInt(), 6);
    Screenshot(web, "entry.png");
    web.Call("POST", "/element/" + web.Element("input[name=ids]") + "/value", {{"text", "2,3"}});
    web.Call("POST", "/element/" + web.Element("#compare") + "/click");
    QString title;
    for (int i = 0; i < 100 && !title.contains("比較"); ++i) {
        title = web.Script("return document.title").toString();
        if (!title.contains("比較"))
            std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the page loading
    }
    EXPECT_EQ(title, "ゼルカ ランキング：比較");
    const QJsonArray header =
        web.Script("return Array.from(document.querySelectorAll('#comparison thead th'))"
                   ".map(c => c.textContent)")
            .toArray();
    ASSERT_EQ(header.size(), 4);
    EXPECT_EQ(header[1].toString(), "計測者0");
    EXPECT_EQ(header[3].toString(), "計測者2");
    EXPECT_TRUE(web.Script("return document.querySelector('#comparison tbody tr').textContent")
                    .toString()
                    .contains("×1"));
    Screenshot(web, "compare.png");

    web.Call("POST", "/url", {{"url", base + "/stats"}});
    const QJsonArray allHistograms = web.Script(histograms).toArray();
    ASSERT_EQ(allHistograms.size(), 6);
    for (const QJsonValue h : allHistograms)
        EXPECT_GT(h[1].toInt(), 1);
    Screenshot(web, "stats.png");
    web.Close();
    driver.kill();
    driver.waitForFinished();
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(10000));
}
