// The service as a site's operator runs it: its database going away and coming back, roles
// that may only read and write, passwords off the command line, the README's nginx in front.
#include "RankFixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <csignal>
#include <map>
#include <mutex>
#include <sys/resource.h>

namespace {

const char* const kForm = "application/x-www-form-urlencoded";

std::string Named(const char* prefix, int i) {
    std::string name = prefix;
    return name += std::to_string(i);
}

std::string Entry(const std::string& name) {
    std::string texts = "&name=";
    return Form(100, {100, 120, 90, 80, 110}, texts += name);
}

// The service in this process on a store of its own, counting its log lines.
struct LocalService {
    explicit LocalService(RankStore& store, RankServerOptions options = {}) {
        options.postLimit = 0;
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            log += line + "\n";
        };
        server = std::make_unique<RankServer>(store, options);
        port = server->Bind();
        thread = std::thread([this] { server->Serve(); });
    }
    ~LocalService() {
        server->Stop();
        thread.join();
    }
    int Logged(const QString& words) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(QString::fromStdString(log).count(words));
    }
    std::unique_ptr<RankServer> server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::string log;
};

} // namespace

// PostgreSQL stops and starts again under a stream of posts and pages: meanwhile 503 with
// Retry-After (the ranking from the cache), never 500; back within seconds on every worker;
// every acknowledged post stored, none twice; the log says it once each way.
TEST(RankOperator, PostgresRestartsUnderLoad) {
    PostgresServer pg;
    ASSERT_TRUE(pg.Error().isEmpty()) << pg.Error().toStdString();
    RankStore store(pg.NewDatabase("outage"));
    store.CreateSchema();
    LocalService service(store);
    httplib::Client client("127.0.0.1", service.port);
    ASSERT_EQ(client.Post(kRankActionPath, Entry("first"), kForm)->status, 200);
    ASSERT_EQ(client.Get("/")->status, 200);
    std::atomic<bool> streaming{true};
    std::map<std::string, int> posted; // name: the reply's status
    std::map<int, int> answers;        // status: how many replies, posts and pages
    std::thread stream([&] {
        httplib::Client c("127.0.0.1", service.port);
        for (int i = 0; streaming; ++i) {
            const auto post = c.Post(kRankActionPath, Entry(Named("s", i)), kForm);
            ++answers[posted[Named("s", i)] = post ? post->status : -1];
            for (const char* page : {"/", "/?sort=cpu", "/entry/1"}) {
                const auto got = c.Get(page);
                ++answers[got ? got->status : -1];
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(pg.Stop());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto away = client.Post(kRankActionPath, Entry("away"), kForm);
    EXPECT_EQ(away->status, 503);
    EXPECT_EQ(away->get_header_value("Retry-After"), "5");
    EXPECT_NE(away->body.find("データベースにつながりません"), std::string::npos) << away->body;
    EXPECT_NE(client.Get("/")->body.find("first"), std::string::npos);
    EXPECT_EQ(client.Get("/entry/1")->status, 503);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(pg.Start());
    QElapsedTimer back;
    back.start();
    while (client.Get("/entry/1")->status != 200 && back.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(back.elapsed(), 5000);
    for (int i = 0; i < 24; ++i) // more than the workers: each one's connection was lost
        EXPECT_EQ(posted[Named("after", i)] =
                      client.Post(kRankActionPath, Entry(Named("after", i)), kForm)->status,
                  200);
    streaming = false;
    stream.join();

    EXPECT_GT(answers[503], 4);
    for (const auto& [status, count] : answers)
        EXPECT_TRUE(status == 200 || status == 503) << count << " answered " << status;
    QString names;
    ASSERT_TRUE(pg.Sql("outage", "SELECT name FROM entries", &names));
    std::map<std::string, int> stored;
    for (const QString& line : names.split('\n'))
        ++stored[line.trimmed().toStdString()];
    for (const auto& [name, status] : posted) {
        EXPECT_LE(stored[name], 1) << name << " stored twice";
        EXPECT_TRUE(status != 200 || stored[name] == 1) << name << " acknowledged, not stored";
    }
    // Once each way (a worker racing the return may add one), not once per request.
    EXPECT_GE(service.Logged("answering 503"), 1);
    EXPECT_LE(service.Logged("answering 503"), 2);
    EXPECT_GE(service.Logged("the database is back"), 1);
}

// SQLite's disk fills up (here: no file may grow): posts 503 and nothing of them kept, pages
// served; once the file may grow, posts are stored again; the file stays whole.
TEST(RankOperator, AnSQLiteDiskThatFillsUp) {
    QTemporaryDir dir;
    const QString file = dir.filePath("rank.sqlite");
    RankStore store(file.toStdString());
    store.CreateSchema();
    LocalService service(store);
    httplib::Client client("127.0.0.1", service.port);
    ASSERT_EQ(client.Post(kRankActionPath, Entry("before"), kForm)->status, 200);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit limit{}, saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    limit = {1, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto full = client.Post(kRankActionPath, Entry("full"), kForm);
    const auto page = client.Get("/ranking.json");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(full->status, 503);
    EXPECT_EQ(full->get_header_value("Retry-After"), "5");
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(client.Post(kRankActionPath, Entry("after"), kForm)->status, 200);
    EXPECT_EQ(store.Ranking(rsOverall, 0, 50).total, 2);
    {
        QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "disk-full-check");
        check.setDatabaseName(file);
        QSqlQuery integrity(check.open() ? check : QSqlDatabase());
        EXPECT_TRUE(integrity.exec("PRAGMA integrity_check") && integrity.next() &&
                    integrity.value(0).toString() == "ok");
    }
    QSqlDatabase::removeDatabase("disk-full-check");
}

// `init` makes the tables as the database's owner; the other commands and the service need
// only read and write rights and say which are missing. The password comes from PGPASSWORD, a
// password file or systemd's credential, and is refused on the command line.
TEST(RankOperator, ARoleThatMayOnlyReadAndWrite) {
    PostgresServer& pg = Postgres();
    ASSERT_TRUE(pg.Error().isEmpty()) << pg.Error().toStdString();
    const QString owner = QString::fromStdString(pg.NewDatabase("least"));
    const QString writer = QString("postgresql://rank_rw@127.0.0.1:%1/least").arg(pg.Port());
    ASSERT_TRUE(pg.Sql("postgres", "CREATE ROLE rank_rw LOGIN PASSWORD 'pw-Secret1'"));
    QTemporaryDir dir;
    QFile file(dir.filePath("db-password"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("pw-Secret1\n") > 0);
    file.close();
    enum Password { kNone, kEnvironment, kFile, kCredential };
    const auto run = [&](QStringList arguments, const QString& db, Password password,
                         QString* said) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("PGPASSWORD");
        env.remove("CREDENTIALS_DIRECTORY");
        if (password == kEnvironment)
            env.insert("PGPASSWORD", "pw-Secret1");
        if (password == kCredential)
            env.insert("CREDENTIALS_DIRECTORY", dir.path());
        if (password == kFile)
            arguments << "--password-file" << file.fileName();
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ZELKA_RANK_BINARY, arguments << "--db" << db);
        // The service, given tables it may use, is still serving after a second.
        const bool ended = p.waitForFinished(arguments.contains("--listen") ? 1000 : 20000);
        if (!ended) {
            p.terminate();
            p.waitForFinished(5000);
        }
        *said = QString::fromLocal8Bit(p.readAll());
        return ended ? p.exitCode() : -1;
    };
    const auto sql = [&pg](const char* statement) { return pg.Sql("least", statement); };
    const QString wrongDb = QString("postgresql://rank_rw:pw@127.0.0.1:%1/least").arg(pg.Port());
    const struct {
        const char* grant;
        QStringList arguments;
        const QString& db;
        Password password;
        int exitCode; // -1: still serving
        const char* says;
    } steps[] = {
        {"", {"pending"}, writer, kEnvironment, 1, "zelka-rank init"},
        {"", {"--listen", "127.0.0.1:0"}, writer, kEnvironment, 1, "may not create them"},
        {"", {"init"}, owner, kNone, 0, "the tables are ready"},
        {"", {"pending"}, writer, kEnvironment, 1, "permission denied for table entries"},
        {"GRANT SELECT ON entries, recent_posts, post_log, model_aliases, model_rules, "
         "deleted_entries TO rank_rw",
         {"pending"},
         writer,
         kEnvironment,
         1,
         "this role lacks INSERT on entries"},
        {"GRANT INSERT, UPDATE, DELETE ON entries, recent_posts, post_log, model_aliases, "
         "model_rules, deleted_entries TO rank_rw",
         {"pending"},
         writer,
         kEnvironment,
         1,
         "USAGE on entries_id_seq"},
        {"GRANT USAGE ON SEQUENCE entries_id_seq TO rank_rw",
         {"pending"},
         writer,
         kEnvironment,
         0,
         "0 pending"},
        {"", {"pending"}, writer, kFile, 0, "0 pending"},
        {"", {"pending"}, writer, kCredential, 0, "0 pending"},
        {"", {"pending"}, writer, kNone, 1, "cannot open the database"},
        {"", {"pending"}, wrongDb, kNone, 2, "--db takes no password"},
        {"", {"--listen", "127.0.0.1:0"}, writer, kCredential, -1, "listening on"},
    };
    for (const auto& s : steps) {
        ASSERT_TRUE(!*s.grant || sql(s.grant));
        QString said;
        EXPECT_EQ(run(s.arguments, s.db, s.password, &said), s.exitCode) << said.toStdString();
        EXPECT_TRUE(said.contains(s.says)) << said.toStdString();
    }
    RankStore store(writer.toStdString(), "pw-Secret1");
    EXPECT_GT(store.Add({{100, 100, 120, 90, 80, 110}, {"a", "", "", "", "", ""}}, 1).id, 0);
}

// The README's nginx configuration, changed only in its addresses and certificate: TLS,
// X-Forwarded-For, upstream keep-alive, the site under /zelka/. Posts after each idle length
// from 0 to 5 s (around 3 s, a direct client's idle time, too) are stored: nginx never posts
// into a connection the service is closing.
TEST(RankOperator, BehindTheReadmesNginx) {
    QFile readme(ZELKA_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype from = text.indexOf("```nginx\n") + 9, to = text.indexOf("```", from);
    ASSERT_TRUE(from >= 9 && to > from);
    QString site = text.mid(from, to - from);
    NginxServer nginx;
    ASSERT_TRUE(nginx.Error().isEmpty()) << nginx.Error().toStdString();
    QTemporaryDir dir;
    RankStore store(dir.filePath("rank.sqlite").toStdString());
    store.CreateSchema();
    RankServerOptions options;
    options.trustProxy.Add("127.0.0.1");
    options.basePath = "/zelka";
    LocalService service(store, options);
    const int port = FreePort();
    for (const auto& [was, is] :
         {std::pair<QString, QString>{"127.0.0.1:8932", QString("127.0.0.1:%1").arg(service.port)},
          {"listen 443 ssl", QString("listen 127.0.0.1:%1 ssl").arg(port)},
          {"/etc/ssl/certs/example.org.pem", nginx.Certificate()},
          {"/etc/ssl/private/example.org.key", nginx.Key()}}) {
        ASSERT_TRUE(site.contains(was)) << was.toStdString();
        site.replace(was, is);
    }
    ASSERT_TRUE(nginx.Start(site, port)) << nginx.Error().toStdString();
    const QString base = QString("https://127.0.0.1:%1").arg(port);
    QString reply;
    int stored = 0;
    for (const int idleMs : {0, 500, 1000, 2000, 2900, 3000, 3100, 3500, 4000, 5000}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
        const QByteArray body = QByteArray::fromStdString(Entry(Named("idle", idleMs)));
        const int status = nginx.Request(base + "/zelka/cgi-bin/zelka.cgi", body, &reply);
        EXPECT_EQ(status, 200) << "after " << idleMs << " ms idle: " << reply.toStdString();
        stored += status == 200;
    }
    EXPECT_EQ(store.Ranking(rsOverall, 0, 50).total, stored);
    // Every link under the site's path: the reply's, the pages', the service's redirect.
    const struct {
        const char* path;
        int status;
        const char* says;
    } pages[] = {
        {"/zelka/?sort=cpu", 200, "href=\"/zelka/?sort=gdi\""},
        {"/zelka/entry/1", 200, "href=\"/zelka/\""},
        {"/zelka/nothing", 404, "href=\"/zelka/\""},
        {"/zelka/entry/1", 200, "action=\"/zelka/compare\""},
        {"/zelka/models", 200, "href=\"/zelka/stats\""},
        {"/zelka/compare?ids=2,1", 200, "href=\"/zelka/entry/1\""},
        {"/zelka/stats", 200, "<svg class=\"hist\""},
        {"/zelka/data/entries.jsonl", 200, "{\"id\":1,"},
    };
    for (const auto& p : pages) {
        EXPECT_EQ(nginx.Request(base + p.path, {}, &reply), p.status) << p.path;
        EXPECT_TRUE(reply.contains(p.says)) << p.path << ": " << reply.toStdString();
    }
    nginx.Request(base + "/zelka/cgi-bin/zelka.cgi", QByteArray::fromStdString(Entry("z")), &reply);
    EXPECT_TRUE(reply.contains("href=\"/zelka/withdraw/")) << reply.toStdString();
    httplib::Client direct("127.0.0.1", service.port);
    EXPECT_EQ(direct.Get("/zelka")->get_header_value("Location"), "/zelka/");
    EXPECT_EQ(direct.Get("/entry/1")->status, 404);
}

// --trust-proxy given several times, and as a list, believes every proxy named.
TEST(RankOperator, EveryTrustedProxyIsBelieved) {
    QTemporaryDir dir;
    QProcess service;
    service.start(ZELKA_RANK_BINARY,
                  {"--listen", "127.0.0.1:0", "--post-limit", "1", "--trust-proxy", "127.0.0.1",
                   "--trust-proxy", "127.0.0.2,10.0.0.0/8", "--db", dir.filePath("rank.sqlite")});
    ASSERT_TRUE(service.waitForStarted());
    while (!service.canReadLine() && service.waitForReadyRead(20000)) {
    }
    const int port = QString::fromUtf8(service.readLine()).trimmed().section(':', -1).toInt();
    const struct {
        const char* from;
        const char* forwarded;
        const char* status;
    } posts[] = {
        {"127.0.0.1", "198.51.100.1", "200"},
        {"127.0.0.1", "198.51.100.2", "200"}, // another client behind the first proxy
        {"127.0.0.2", "198.51.100.3, 10.1.1.1", "200"},
        {"127.0.0.1", "198.51.100.3, 10.2.2.2, 127.0.0.2", "429"}, // that client again
    };
    int n = 0;
    for (const auto& p : posts) {
        const std::string body = Entry(Named("p", ++n));
        const int s = Connect(port, p.from);
        const std::string request =
            std::string("POST /cgi-bin/zelka.cgi HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                        "Content-Type: application/x-www-form-urlencoded\r\nX-Forwarded-For: ") +
            p.forwarded + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
        EXPECT_EQ(ReadAll(s).substr(0, 12), std::string("HTTP/1.1 ") + p.status) << p.forwarded;
        ::close(s);
    }
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
}
