// The service as a site's operator runs it: its database restarting under load, roles that
// may only read and write, passwords kept off the command line.
#include "RankFixture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <map>
#include <mutex>

namespace {

const char* const kForm = "application/x-www-form-urlencoded";

std::string Named(const char* prefix, int i) {
    std::string name = prefix;
    name += std::to_string(i);
    return name;
}

// A post of the usual scores under `name`.
std::string Entry(const std::string& name) {
    std::string texts = "&name=";
    texts += name;
    return Form(100, {100, 120, 90, 80, 110}, texts);
}

// The service in this process on a store of its own, logging into a list.
struct LocalService {
    explicit LocalService(RankStore& store, RankServerOptions options = {}) {
        options.host = "127.0.0.1";
        options.port = 0;
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            log.push_back(line);
        };
        server = std::make_unique<RankServer>(store, options);
        port = server->Bind();
        thread = std::thread([this] { server->Serve(); });
    }
    ~LocalService() {
        server->Stop();
        thread.join();
    }
    int Logged(const char* words) {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(std::count_if(log.begin(), log.end(), [words](const auto& line) {
            return line.find(words) != std::string::npos;
        }));
    }

    std::unique_ptr<RankServer> server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::vector<std::string> log;
};

} // namespace

// PostgreSQL stops and starts again under a stream of posts and pages. Meanwhile every
// request is answered 503 with Retry-After (the ranking from the cache), never 500; once it is
// back the service is too, within seconds, on every worker; every acknowledged post is stored,
// and none twice. The log says it once each way.
TEST(RankOperator, PostgresRestartsUnderLoad) {
    PostgresServer pg;
    ASSERT_TRUE(pg.Error().isEmpty()) << pg.Error().toStdString();
    RankStore store(pg.NewDatabase("outage"));
    store.CreateSchema();
    RankServerOptions options;
    options.postLimit = 0;
    options.workers = 4;
    LocalService service(store, options);
    httplib::Client client("127.0.0.1", service.port);
    ASSERT_EQ(client.Post(kRankActionPath, Entry("first"), kForm)->status, 200);
    ASSERT_EQ(client.Get("/")->status, 200);

    std::atomic<bool> streaming{true};
    std::map<std::string, int> posted; // name: the reply's status
    std::map<int, int> answers;        // status: how many, posts and pages
    std::thread stream([&] {
        httplib::Client c("127.0.0.1", service.port);
        for (int i = 0; streaming; ++i) {
            const std::string name = Named("s", i);
            const auto post = c.Post(kRankActionPath, Entry(name), kForm);
            posted[name] = post ? post->status : -1;
            ++answers[post ? post->status : -1];
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
    ASSERT_TRUE(away);
    EXPECT_EQ(away->status, 503);
    EXPECT_EQ(away->get_header_value("Retry-After"), "5");
    EXPECT_NE(away->body.find("データベースにつながりません"), std::string::npos) << away->body;
    const auto cached = client.Get("/");
    ASSERT_TRUE(cached);
    EXPECT_EQ(cached->status, 200);
    EXPECT_NE(cached->body.find("first"), std::string::npos);
    EXPECT_EQ(client.Get("/entry/1")->status, 503);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(pg.Start());
    // Back within seconds; then every request of a while is served.
    QElapsedTimer back;
    back.start();
    while (client.Get("/entry/1")->status != 200 && back.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(back.elapsed(), 5000);
    for (int i = 0; i < 24; ++i) {
        const auto res = client.Post(kRankActionPath, Entry(Named("after", i)), kForm);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << i;
        posted[Named("after", i)] = res->status;
    }
    streaming = false;
    stream.join();

    EXPECT_GT(answers[503], 4);
    for (const auto& [status, count] : answers)
        EXPECT_TRUE(status == 200 || status == 503) << count << " answered " << status;
    QString names;
    ASSERT_TRUE(pg.Sql("outage", "SELECT name FROM entries ORDER BY id", &names));
    std::map<std::string, int> stored;
    for (const QString& line : names.split('\n'))
        if (line.trimmed().startsWith('s') || line.trimmed().startsWith("after"))
            ++stored[line.trimmed().toStdString()];
    for (const auto& [name, count] : stored) {
        EXPECT_EQ(count, 1) << name << " stored twice";
        EXPECT_TRUE(posted.contains(name)) << name;
    }
    for (const auto& [name, status] : posted) {
        if (status == 200) {
            EXPECT_TRUE(stored.contains(name)) << name << " acknowledged, not stored";
        }
    }
    EXPECT_GE(service.Logged("answering 503"), 1);
    EXPECT_LE(service.Logged("answering 503"), 2);
    EXPECT_GE(service.Logged("the database is back"), 1);
}
