#pragma once
// The service in this process on loopback, against SQLite or a PostgreSQL server the tests
// start, and raw sockets for what a browser would never send.
#include "TestServers.h"
#include "rank/RankCheck.h"
#include "rank/RankServer.h"
#include "rank/RankStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

enum class Backend { SQLite, PostgreSQL };
inline void PrintTo(Backend b, std::ostream* os) {
    *os << (b == Backend::SQLite ? "SQLite" : "PostgreSQL");
}

inline PostgresServer& Postgres() {
    static PostgresServer server;
    return server;
}

inline std::string Form(int total, std::initializer_list<int> five, const std::string& texts) {
    std::int32_t s[5];
    std::copy(five.begin(), five.end(), s);
    std::string body = "sc=" + std::to_string(total);
    for (int i = 0; i < 5; ++i)
        body += "&sc" + std::to_string(i + 1) + "=" + std::to_string(s[i]);
    return body + "&ver=200&pass=" + std::to_string(RankCheckValue(total, s)) + texts;
}

// Connects a raw socket to the service, from `from` when given (e.g. "127.0.1.1").
inline int Connect(int port, const char* from = nullptr) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        // Another loopback address: a client of its own to the service's per-address limits.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return s;
}

// Everything the peer sends until it closes (or 5 s of silence).
inline std::string ReadAll(int s) {
    std::string got;
    char buffer[4096];
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            return got + "<silence>";
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            return got;
        got.append(buffer, static_cast<std::size_t>(n));
    }
}

class RankService : public ::testing::TestWithParam<Backend> {
protected:
    void Start(RankServerOptions options = {}) {
        std::string address;
        if (GetParam() == Backend::PostgreSQL) {
            ASSERT_TRUE(Postgres().Error().isEmpty()) << Postgres().Error().toStdString();
            static int databases = 0;
            address = Postgres().NewDatabase("rank_test_" + std::to_string(++databases));
        } else {
            address = dir_.filePath("rank.sqlite").toStdString();
        }
        store_ = std::make_unique<RankStore>(address);
        store_->CreateSchema();
        options.host = "127.0.0.1";
        options.port = 0;
        options.clock = [this] { return now_.load(); };
        server_ = std::make_unique<RankServer>(*store_, options);
        port_ = server_->Bind();
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->Serve(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    }
    void TearDown() override {
        if (server_) {
            server_->Stop();
            thread_.join();
        }
    }

    httplib::Result Post(const std::string& body,
                         const char* type = "application/x-www-form-urlencoded") {
        return client_->Post(kRankActionPath, body, type);
    }
    QJsonObject Json(const std::string& query = "") {
        const auto res = client_->Get("/ranking.json" + query);
        EXPECT_TRUE(res && res->status == 200);
        return res ? QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()
                   : QJsonObject();
    }

    QTemporaryDir dir_;
    std::unique_ptr<RankStore> store_;
    std::unique_ptr<RankServer> server_;
    std::unique_ptr<httplib::Client> client_;
    std::thread thread_;
    std::atomic<std::int64_t> now_{1'800'000'000};
    int port_ = 0;
};
