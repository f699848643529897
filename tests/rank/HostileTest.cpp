// The service against clients that mean it harm, on loopback: what they send, how many
// connections they hold and how slowly, how often they post and what scores, and what the
// operator and the poster can do about an entry afterwards.
#include "RankFixture.h"
#include "rank/RequestHead.h"
#include "rank/Submission.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>

namespace {

void Send(int s, const std::string& bytes) {
    ASSERT_EQ(::send(s, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}

// One request on a connection of its own, and everything the service says until it closes.
std::string Exchange(int port, const std::string& request, const char* from = nullptr) {
    const int s = Connect(port, from);
    ::send(s, request.data(), request.size(), MSG_NOSIGNAL);
    std::string reply = ReadAll(s);
    ::close(s);
    return reply;
}

const std::string kGet = "GET /ranking.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

std::string PostHead(const std::string& headers) {
    return "POST /cgi-bin/zelka.cgi HTTP/1.1\r\nHost: x\r\n" + headers + "\r\n";
}

// The n-th of a run of loopback client addresses, `per` connections each: 127.0.1.1, ...
std::string ClientAddressOf(int n, int per = 8) {
    return "127.0." + std::to_string(1 + n / per / 250) + "." + std::to_string(1 + n / per % 250);
}

// What HTTP alone decides: one database is enough.
class RankHttp : public RankService {};

} // namespace

TEST(RankHead, RefusalsFromTheHeadAlone) {
    const struct {
        HeaderList headers;
        bool formPost;
        int status; // 0: accepted
    } cases[] = {
        {{{"Content-Length", "10"}, {"Content-Type", "application/x-www-form-urlencoded"}},
         true,
         0},
        {{{"content-type", "Application/X-WWW-Form-Urlencoded; charset=Shift_JIS"},
          {"Transfer-Encoding", "Chunked"}},
         true,
         0},
        {{{"Content-Length", "5"}, {"Content-Length", "40"}}, false, 400},
        {{{"Content-Length", "5"}, {"content-length", "5"}}, false, 400},
        {{{"Content-Length", "5, 5"}}, false, 400},
        {{{"Content-Length", "-1"}}, false, 400},
        {{{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, false, 400},
        {{{"Transfer-Encoding", "gzip, chunked"}}, false, 400},
        {{{"Transfer-Encoding", "chunked"}, {"Transfer-Encoding", "chunked"}}, false, 400},
        {{{"Content-Length", "1617"}, {"Content-Encoding", "br"}}, false, 415},
        {{{"Content-Encoding", "identity"}}, false, 415},
        {{{"Content-Length", "8193"}}, false, 413},
        {{{"Content-Length", "8192"}}, false, 0},
        {{{"Content-Type", "multipart/form-data; boundary=x"}}, true, 415},
        {{{"Content-Type", "application/x-www-form-urlencodedXYZ"}}, true, 415},
        {{}, true, 415},
        {{{"Content-Type", "text/plain"}}, false, 0},
    };
    for (const auto& c : cases) {
        const auto refusal = CheckRequestHead(c.headers, c.formPost, kRankBodyLimit);
        EXPECT_EQ(refusal ? refusal->status : 0, c.status)
            << c.headers.size() << " headers, first "
            << (c.headers.empty() ? "" : c.headers[0].second);
    }
}

TEST(RankHead, WhoseAddressAPostCountsFor) {
    NetworkSet proxies;
    for (const char* p : {"127.0.0.1", "10.0.0.0/8", "::1", "fd00::/8"})
        ASSERT_TRUE(proxies.Add(p)) << p;
    const struct {
        const char* peer;
        std::vector<std::string> forwarded;
        const char* client; // nullptr: refused
    } cases[] = {
        {"192.0.2.1", {"198.51.100.7"}, "192.0.2.1"}, // no proxy: the header is the client's say
        {"127.0.0.1", {"203.0.113.9, 198.51.100.7"}, "198.51.100.7"},
        {"127.0.0.1", {"203.0.113.9", "198.51.100.8 "}, "198.51.100.8"},
        {"127.0.0.1", {"2001:DB8::0:1"}, "2001:db8::1"},
        {"127.0.0.1", {}, "127.0.0.1"},
        {"127.0.0.2", {"198.51.100.7"}, "127.0.0.2"},
        // Several trusted hops: the last untrusted address; what stands before it is not read.
        {"127.0.0.1", {"unknown, 198.51.100.7, 10.1.2.3"}, "198.51.100.7"},
        {"::1", {"203.0.113.9, 198.51.100.7", "fd00::5, 10.0.0.9"}, "198.51.100.7"},
        {"10.200.0.1", {"10.0.0.2, 10.0.0.3"}, "10.0.0.2"}, // every hop trusted: the first
        {"::ffff:127.0.0.1", {"198.51.100.7"}, "198.51.100.7"},
        {"127.0.0.1", {"::ffff:198.51.100.7"}, "198.51.100.7"},
        // A hop that is read and is no address: refused, never the proxy's bucket.
        {"127.0.0.1", {"unknown"}, nullptr},
        {"127.0.0.1", {"198.51.100.7:4711"}, nullptr},
        {"127.0.0.1", {"[2001:db8::1]"}, nullptr},
        {"127.0.0.1", {"198.51.100.7, "}, nullptr},
        {"127.0.0.1", {"198.51.100.7, 10.0.0.1, _hidden"}, nullptr},
    };
    for (const auto& c : cases) {
        const auto client = ClientAddress(c.peer, proxies, c.forwarded);
        EXPECT_EQ(client.value_or("<refused>"), c.client ? c.client : "<refused>") << c.peer;
    }
}

// Proxies are addresses or networks, nothing looser (the buckets the limits count are
// tested through the service, in FloodsHeldBack).
TEST(RankHead, TrustedNetworks) {
    const struct {
        const char* network;
        bool taken;
        const char* inside;
        const char* outside;
    } networks[] = {
        {"10.0.0.0/8", true, "10.255.0.1", "11.0.0.1"},
        {"192.168.1.64/26", true, "192.168.1.127", "192.168.1.128"},
        {"2001:db8::/32", true, "2001:db8:ffff::1", "2001:db9::1"},
        {"127.0.0.1", true, "::ffff:127.0.0.1", "127.0.0.2"},
        {"0.0.0.0/0", true, "203.0.113.1", "2001:db8::1"},
        {"10.0.0.1/8", false, "", ""},
        {"10.0.0.0/33", false, "", ""},
        {"10.0.0.0/08", false, "", ""},
        {"10.0.0.0/", false, "", ""},
        {"localhost", false, "", ""},
        {"[::1]", false, "", ""},
        {"127.0.0.1:80", false, "", ""},
    };
    for (const auto& n : networks) {
        NetworkSet set;
        EXPECT_EQ(set.Add(n.network), n.taken) << n.network;
        if (n.taken) {
            EXPECT_TRUE(set.Contains(n.inside)) << n.network;
            EXPECT_FALSE(set.Contains(n.outside)) << n.network;
        }
    }
}

// Each head is refused before its body is sent, and the connection is closed after the
// refusal, so nothing sent after the head is run as another request.
TEST_P(RankHttp, HostileHeadsRefusedBeforeTheBody) {
    Start();
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string smuggled = "0\r\n\r\n" + kGet;
    const struct {
        std::string request;
        const char* status;
    } cases[] = {
        {PostHead(form + "Content-Encoding: br\r\nContent-Length: 1617\r\n"), "415"},
        {PostHead(form + "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"), "415"},
        {PostHead(form + "Content-Length: 5\r\nContent-Length: 40\r\n") + smuggled, "400"},
        {PostHead(form + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n") + smuggled, "400"},
        {PostHead(form + "Transfer-Encoding: gzip\r\n"), "400"},
        {PostHead(form + "Content-Length: 8193\r\n"), "413"},
        {PostHead("Content-Type: multipart/form-data; boundary=x\r\nContent-Length: 10\r\n"),
         "415"},
        {PostHead("Content-Type: application/x-www-form-urlencodedXYZ\r\nContent-Length: 10\r\n"),
         "415"},
        {"PUT /entry/1 HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\n", "405"},
    };
    for (const auto& c : cases) {
        const std::string reply = Exchange(port_, c.request);
        EXPECT_EQ(reply.substr(0, 12), std::string("HTTP/1.1 ") + c.status) << c.request;
        EXPECT_EQ(reply.find("<silence>"), std::string::npos) << "left open: " << c.request;
        EXPECT_EQ(reply.find("HTTP/1.1", 1), std::string::npos) << "a second reply: " << reply;
        EXPECT_NE(reply.find("<html lang=\"ja\">"), std::string::npos);
    }
    // A chunked body is read up to 8 KiB and no further; one within it is a post like another.
    const int s = Connect(port_);
    Send(s, PostHead(form + "Transfer-Encoding: chunked\r\n"));
    std::string chunks;
    for (int i = 0; i < 4; ++i)
        chunks += "1000\r\n" + std::string(4096, 'x') + "\r\n";
    ::send(s, chunks.data(), chunks.size(), MSG_NOSIGNAL);
    const std::string cut = ReadAll(s);
    ::close(s);
    EXPECT_EQ(cut.find("<silence>"), std::string::npos);
    EXPECT_EQ(cut.find("200 OK"), std::string::npos);
    const std::string body = Form(100, {100, 120, 90, 80, 110}, "&name=chunked");
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    const std::string ok = Exchange(port_, PostHead(form + "Transfer-Encoding: chunked\r\n"
                                                           "Connection: close\r\n") +
                                               size + "\r\n" + body + "\r\n0\r\n\r\n");
    EXPECT_EQ(ok.substr(0, 15), "HTTP/1.1 200 OK") << ok;
    EXPECT_EQ(Json()["total"].toInt(), 1);
}

// Connections that wait, idle or trickling, cost the others nothing: each row's crowd is
// open while another visitor is answered at once.
TEST_P(RankHttp, WaitingConnectionsStarveNobody) {
    Start();
    const std::string slowHead = "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    const struct {
        const char* crowd;
        int count;
        std::string sent;
        bool oneRequest; // a keep-alive client that made a request and now waits
    } cases[] = {
        {"keep-alive clients", 16, "GET / HTTP/1.1\r\nHost: x\r\n\r\n", true},
        {"slow heads", 16, slowHead, false},
        {"slow heads", 90, slowHead, false},
        {"idle sockets", 200, "", false},
    };
    int clients = 0; // each row from addresses of its own: closing is not instant
    for (const auto& c : cases) {
        std::vector<int> crowd;
        for (int i = 0; i < c.count; ++i) {
            crowd.push_back(Connect(port_, ClientAddressOf(clients++).c_str()));
            if (!c.sent.empty())
                Send(crowd.back(), c.sent);
        }
        for (int s : crowd)
            if (c.oneRequest) {
                char buffer[4096];
                pollfd p{s, POLLIN, 0};
                ASSERT_GT(::poll(&p, 1, 5000), 0) << c.crowd;
                ASSERT_GT(::recv(s, buffer, sizeof buffer, 0), 0) << c.crowd;
            } else if (!c.sent.empty()) {
                Send(s, "a"); // a byte more of a slow head
            }
        EXPECT_EQ(Exchange(port_, kGet).substr(0, 15), "HTTP/1.1 200 OK")
            << c.count << " " << c.crowd;
        for (int s : crowd)
            ::close(s);
    }
}

// At most 8 connections from one address (but the trusted proxy's, which carries everyone);
// beyond the cap, every new connection is told 503.
TEST_P(RankHttp, ConnectionLimits) {
    RankServerOptions options;
    options.maxConnections = 20;
    options.trustProxy.Add("127.0.3.9");
    Start(options);
    std::vector<int> held;
    auto hold = [this, &held](const char* from, int count) {
        for (int i = 0; i < count; ++i) {
            held.push_back(Connect(port_, from));
            Send(held.back(), "GET / HTTP/1.1\r\n");
        }
    };
    hold("127.0.3.1", 8);
    // The ninth from that address is closed unanswered; another address is served.
    EXPECT_EQ(Exchange(port_, kGet, "127.0.3.1"), "");
    EXPECT_EQ(Exchange(port_, kGet, "127.0.3.2").substr(0, 15), "HTTP/1.1 200 OK");
    hold("127.0.3.9", 8);
    EXPECT_EQ(Exchange(port_, kGet, "127.0.3.9").substr(0, 15), "HTTP/1.1 200 OK");
    // Four more make twenty: the twenty-first is told 503 and closed.
    hold("127.0.3.3", 4);
    const std::string busy = Exchange(port_, kGet, "127.0.3.4");
    EXPECT_EQ(busy.substr(0, 32), "HTTP/1.1 503 Service Unavailable") << busy;
    EXPECT_NE(busy.find("Retry-After: 1"), std::string::npos);
    EXPECT_NE(busy.find("混み合っています"), std::string::npos);
    for (int s : held)
        ::close(s);
}

// Deadlines run from the accept (or the end of the previous reply), on the scripted clock:
// whatever a connection does, it is closed once its request has taken too long.
TEST_P(RankHttp, DeadlinesRunFromTheAccept) {
    std::atomic<std::int64_t> ms{0};
    RankServerOptions options;
    options.requestDeadline = std::chrono::milliseconds(10000);
    options.keepAlive = std::chrono::seconds(600); // only the scripted deadline here
    options.steadyClock = [&ms] {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms.load()));
    };
    Start(options);
    const struct {
        const char* what;
        std::string sent;
        bool answered; // one reply before waiting
    } cases[] = {
        {"idle", "", false},
        {"a slow head", "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: a", false},
        {"a slow body",
         PostHead("Content-Type: application/x-www-form-urlencoded\r\n"
                  "Content-Length: 100\r\n") +
             "sc=1",
         false},
        {"idle after a reply", "GET /ranking.json HTTP/1.1\r\nHost: x\r\n\r\n", true},
    };
    for (const auto& c : cases) {
        const int early = Connect(port_);
        const int late = Connect(port_);
        Send(early, c.sent + " ");
        // Connections are accepted in order: once `late` is answered, `early` was accepted.
        Send(late, "GET /ranking.json HTTP/1.1\r\nHost: x\r\n\r\n");
        char reply[8192];
        pollfd ready{late, POLLIN, 0};
        ASSERT_GT(::poll(&ready, 1, 5000), 0);
        ASSERT_GT(::recv(late, reply, sizeof reply, 0), 0);
        if (c.answered) {
            char buffer[8192];
            pollfd p{early, POLLIN, 0};
            ASSERT_GT(::poll(&p, 1, 5000), 0);
            ASSERT_GT(::recv(early, buffer, sizeof buffer, 0), 0);
        }
        // 9.9 s on: still open, and a request finished now is answered.
        ms += 9900;
        Send(late, kGet);
        EXPECT_EQ(ReadAll(late).substr(0, 15), "HTTP/1.1 200 OK") << c.what;
        // Past 10 s: closed, however it trickles.
        ms += 200;
        Send(early, "b");
        const std::string rest = ReadAll(early);
        EXPECT_EQ(rest.find("<silence>"), std::string::npos) << c.what;
        EXPECT_EQ(rest.find("200 OK"), std::string::npos) << c.what;
        ::close(early);
        ::close(late);
    }
}

// One address posts at most K entries in 10 minutes; behind a trusted proxy, the address the
// proxy adds to X-Forwarded-For counts, not the proxy's.
TEST_P(RankService, FloodsHeldBack) {
    RankServerOptions options;
    options.postLimit = 3;
    options.trustProxy.Add("127.0.0.1");
    Start(options);
    int sent = 0;
    auto post = [this, &sent](const std::string& forwarded, const char* from) {
        const std::string body =
            Form(100, {100, 120, 90, 80, 110}, "&name=flood" + std::to_string(++sent));
        return Exchange(
            port_,
            PostHead("Content-Type: application/x-www-form-urlencoded\r\n"
                     "Connection: close\r\n" +
                     (forwarded.empty() ? "" : "X-Forwarded-For: " + forwarded + "\r\n") +
                     "Content-Length: " + std::to_string(body.size()) + "\r\n") +
                body,
            from);
    };
    const struct {
        std::string forwarded;
        const char* from;
        std::int64_t later; // seconds the clock moves first
        const char* status;
    } steps[] = {
        {"203.0.113.1, 198.51.100.7", nullptr, 0, "200"},
        {"198.51.100.7", nullptr, 1, "200"},
        {"10.1.1.1, 198.51.100.7", nullptr, 1, "200"},
        {"198.51.100.7", nullptr, 1, "429"},     // the fourth from 198.51.100.7
        {"198.51.100.8", nullptr, 0, "200"},     // another client behind the proxy
        {"198.51.100.7", "127.0.4.1", 0, "200"}, // not the proxy: its own address counts
        {"198.51.100.7", nullptr, kRankPostWindow - 4, "429"},
        {"198.51.100.7", nullptr, 1, "200"}, // the first has left the window
        // An IPv6 client counts by its /64, an IPv4-mapped address as the IPv4 address.
        {"2001:db8:1:2::1", nullptr, 0, "200"},
        {"2001:db8:1:2::2", nullptr, 0, "200"},
        {"2001:db8:1:2:ffff::9", nullptr, 0, "200"},
        {"2001:db8:1:2::3", nullptr, 0, "429"},
        {"2001:db8:1:3::1", nullptr, 0, "200"},
        {"::ffff:198.51.100.8", nullptr, 0, "200"},
        {"198.51.100.8", nullptr, 0, "200"},
        {"::ffff:198.51.100.8", nullptr, 0, "429"},
        // A last hop that is no address is no bucket of the proxy's: refused.
        {"unknown", nullptr, 0, "400"},
        {"198.51.100.9:4711", nullptr, 0, "400"},
        {"[2001:db8::1]", nullptr, 0, "400"},
    };
    for (const auto& s : steps) {
        now_ += s.later;
        const std::string reply = post(s.forwarded, s.from);
        EXPECT_EQ(reply.substr(0, 12), std::string("HTTP/1.1 ") + s.status) << s.forwarded;
        if (std::string(s.status) == "429") {
            EXPECT_NE(reply.find("短い間に登録が多すぎます"), std::string::npos);
            const QRegularExpressionMatch retry =
                QRegularExpression("Retry-After: (\\d+)").match(QString::fromStdString(reply));
            ASSERT_TRUE(retry.hasMatch());
            EXPECT_GT(retry.captured(1).toInt(), 0);
            EXPECT_LE(retry.captured(1).toInt(), kRankPostWindow);
        }
    }
    EXPECT_EQ(Json()["total"].toInt(), 12);
}

// A forged score waits for review instead of taking rank 1 and flattening every bar; the
// operator lists, hides or deletes it from the command line.
TEST_P(RankService, ImplausibleEntriesWaitForReview) {
    RankServerOptions options;
    options.postLimit = 0;
    options.ceilings[rsDisk] = 500;
    Start(options);
    auto post = [this](std::initializer_list<int> five, const std::string& name) {
        std::int64_t sum = 0;
        for (int s : five)
            sum += s;
        const auto res = Post(Form(static_cast<int>(sum / 5), five, "&name=" + name));
        return res ? res->body : std::string();
    };
    const int max = 2147483647;
    const struct {
        std::initializer_list<int> five;
        const char* name;
        bool pending;
    } posts[] = {
        {{max, max, max, max, max}, "forged", true}, // above 10^9 with nothing listed
        {{100, 100, 100, 100, 100}, "a", false},
        {{120, 110, 100, 90, 80}, "b", false},
        {{90, 100, 0, 100, 100}, "c", false},
        {{2000, 100, 100, 100, 100}, "d", false}, // 20 x the cpu median (100) is the ceiling
        {{2300, 100, 100, 100, 100}, "e", true},  // the median is 110 now
        {{100, 100, 100, 100, 501}, "f", true},   // above the fixed disk ceiling
    };
    for (const auto& p : posts) {
        const std::string reply = post(p.five, p.name);
        EXPECT_EQ(reply.find("審査待ち") != std::string::npos, p.pending) << p.name << reply;
        EXPECT_NE(reply.find("id=\"withdraw\""), std::string::npos) << p.name;
    }
    const QJsonObject json = Json();
    EXPECT_EQ(json["total"].toInt(), 4);
    for (const QJsonValue& e : json["entries"].toArray())
        EXPECT_LE(e["scores"]["cpu"].toInt(), 2000);
    const auto page = client_->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("forged"), std::string::npos);

    const std::string db = GetParam() == Backend::SQLite
                               ? dir_.filePath("rank.sqlite").toStdString()
                               : store_->Description();
    auto cli = [&db](QStringList arguments, QString* out = nullptr) {
        arguments << "--db" << QString::fromStdString(db);
        return RunTool(ZELKA_RANK_BINARY, arguments, out);
    };
    QString listed;
    ASSERT_TRUE(cli({"pending"}, &listed)) << listed.toStdString();
    EXPECT_TRUE(listed.contains("forged")) << listed.toStdString();
    EXPECT_TRUE(listed.contains(" e\n")) << listed.toStdString();
    const auto id = [&listed](const char* name) {
        const auto m = QRegularExpression(QString("(?m)^(\\d+) .* %1$").arg(name)).match(listed);
        return m.captured(1);
    };
    ASSERT_FALSE(id("forged").isEmpty());
    const struct {
        QStringList arguments;
        bool ok;
        int total;
    } steps[] = {
        {{"approve", id("e")}, true, 5},   {{"hide", id("e")}, true, 4},
        {{"approve", id("e")}, true, 5},   {{"delete", id("e")}, true, 4},
        {{"delete", id("e")}, false, 4},   {{"delete", id("forged")}, true, 4},
        {{"approve", "999999"}, false, 4},
    };
    for (const auto& s : steps) {
        QString out;
        EXPECT_EQ(cli(s.arguments, &out), s.ok) << s.arguments.join(' ').toStdString();
        // As another server of the same database sees it.
        RankStore other(db);
        EXPECT_EQ(other.Ranking(rsOverall, 0, 50).total, s.total)
            << s.arguments.join(' ').toStdString();
    }
    QString after;
    ASSERT_TRUE(cli({"pending"}, &after));
    EXPECT_FALSE(after.contains("forged"));
    EXPECT_TRUE(after.contains(" f\n"));
}

// The reply's link withdraws the entry once it is confirmed; a hidden entry is in no page.
TEST_P(RankService, WithdrawalByTheReplysLink) {
    Start();
    const auto stored = Post(Form(100, {100, 120, 90, 80, 110}, "&name=%E5%B1%B1%E7%94%B0"));
    ASSERT_TRUE(stored);
    const QRegularExpressionMatch link =
        QRegularExpression("href=\"(/withdraw/(\\d+)\\?token=([0-9a-f]{32}))\"")
            .match(QString::fromStdString(stored->body));
    ASSERT_TRUE(link.hasMatch()) << stored->body;
    const std::string path = link.captured(1).toStdString();
    const std::string id = link.captured(2).toStdString();
    const std::string token = link.captured(3).toStdString();
    std::string wrong = token;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';

    const auto confirm = client_->Get(path);
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->status, 200);
    EXPECT_NE(confirm->body.find("action=\"/withdraw/" + id + "\""), std::string::npos);
    EXPECT_EQ(Json()["total"].toInt(), 1); // opening the link alone changes nothing
    const struct {
        std::string body;
        int status;
        int total;
    } steps[] = {
        {"token=" + wrong, 404, 1},
        {"token=", 404, 1},
        {"token=" + token, 200, 0},
        {"token=" + token, 404, 0},
    };
    for (const auto& s : steps) {
        const auto res =
            client_->Post("/withdraw/" + id, s.body, "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, s.status) << s.body;
        EXPECT_EQ(Json()["total"].toInt(), s.total);
    }
    const auto entry = client_->Get("/entry/" + id);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->status, 404);
    const auto again = client_->Get(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 404);
}

// SIGTERM ends the service at once, however many connections wait.
TEST(RankProcess, StopsWithinTwoSecondsWhateverIsConnected) {
    QTemporaryDir dir;
    QProcess service;
    service.start(ZELKA_RANK_BINARY,
                  {"--listen", "127.0.0.1:0", "--db", dir.filePath("rank.sqlite")});
    ASSERT_TRUE(service.waitForStarted());
    while (!service.canReadLine() && service.waitForReadyRead(20000)) {
    }
    const QRegularExpressionMatch port =
        QRegularExpression(":(\\d+)$").match(QString::fromUtf8(service.readLine()).trimmed());
    ASSERT_TRUE(port.hasMatch());
    std::vector<int> idle;
    for (int i = 0; i < 80; ++i)
        idle.push_back(Connect(port.captured(1).toInt(), ClientAddressOf(i).c_str()));
    Send(idle.back(), "GET / HTTP/1.1\r\n");
    QElapsedTimer took;
    took.start();
    ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(service.exitCode(), 0);
    for (int s : idle)
        ::close(s);
}

INSTANTIATE_TEST_SUITE_P(SQLite, RankHttp, ::testing::Values(Backend::SQLite),
                         [](const auto&) { return "SQLite"; });

// The options' numbers are read as the form's are: no sign, no leading zero, within range. A
// line the service takes goes on to open the database (here a folder, which cannot be: exit 1); a
// refused one stops at the usage (exit 2) with what is wrong.
TEST(RankProcess, OptionNumbers) {
    const struct {
        QStringList arguments;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--post-limit", "5"}, 1, "cannot open the database"},
        {{"--post-limit", "0"}, 1, "cannot open the database"},
        {{"--post-limit", "05"}, 2, "--post-limit takes a number of posts"},
        {{"--post-limit", "-1"}, 2, "--post-limit takes a number of posts"},
        {{"--post-limit", "1000001"}, 2, "--post-limit takes a number of posts"},
        {{"--listen", "127.0.0.1:8932"}, 1, "cannot open the database"},
        {{"--listen", "[::1]:0"}, 1, "cannot open the database"},
        {{"--listen", "127.0.0.1:65536"}, 2, "--listen takes ADDRESS:PORT"},
        {{"--listen", "127.0.0.1:08932"}, 2, "--listen takes ADDRESS:PORT"},
        {{"--listen", ":8932"}, 2, "--listen takes ADDRESS:PORT"},
        {{"--per-address", "0"}, 2, "--per-address takes a number of connections"},
        {{"--max-connections", "100000"}, 1, "cannot open the database"},
        {{"--max-connections", "100001"}, 2, "--max-connections takes a number of connections"},
        {{"--ceiling", "disk=500"}, 1, "cannot open the database"},
        {{"--ceiling", "disk=+5"}, 2, "--ceiling takes TEST=N"},
        {{"--ceiling", "gpu=5"}, 2, "--ceiling takes TEST=N"},
        {{"--trust-proxy", "127.0.0.1,10.0.0.0/8", "--trust-proxy", "::1"},
         1,
         "cannot open the database"},
        {{"--trust-proxy", "10.0.0.1/8"}, 2, "--trust-proxy takes proxies' IP addresses"},
        {{"--trust-proxy", "127.0.0.1,unknown"}, 2, "(not unknown)"},
        {{"--base-path", "/zelka/site"}, 1, "cannot open the database"},
        {{"--base-path", "zelka"}, 2, "--base-path takes the site's path"},
        {{"--base-path", "/zelka/"}, 2, "--base-path takes the site's path"},
        {{"--base-path", "/a/../b"}, 2, "--base-path takes the site's path"},
        {{"approve", "7"}, 1, "cannot open the database"},
        {{"approve", "007"}, 2, "approve takes the ID of an entry"},
        {{"hide", "0"}, 2, "hide takes the ID of an entry"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(ZELKA_RANK_BINARY, c.arguments + QStringList{"--db", dir.path()});
        ASSERT_TRUE(p.waitForFinished(20000)) << c.arguments.join(' ').toStdString();
        const QString said = QString::fromLocal8Bit(p.readAll());
        EXPECT_EQ(p.exitCode(), c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(said.contains(c.says)) << said.toStdString();
    }
}
