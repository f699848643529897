#include "RankServer.h"

#include "RankCheck.h"
#include "RankPages.h"
#include "Submission.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <httplib.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The most a request line, its headers and its body may take together.
constexpr std::size_t kRequestBytes = 64 * 1024 + kRankBodyLimit;

// Set on the accepting thread while it turns a connection away.
thread_local bool turningAway = false;

// A fixed pool of workers and a bounded queue of accepted connections.
class BoundedPool : public httplib::TaskQueue {
public:
    BoundedPool(int workers, int waiting) : limit_(static_cast<std::size_t>(waiting)) {
        for (int i = 0; i < workers; ++i)
            threads_.emplace_back([this] { Work(); });
    }

    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (jobs_.size() < limit_) {
                jobs_.push_back(std::move(fn));
                ready_.notify_one();
                return;
            }
        }
        // Full: the connection is answered 503 and closed right here.
        turningAway = true;
        fn();
        turningAway = false;
    }

    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }

    std::size_t limit_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool stopping_ = false;
};

// Poll for `events` until `timeout` or the request's deadline, whichever comes first.
bool Wait(int sock, short events, std::chrono::milliseconds timeout, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const auto wait = std::min(timeout, left);
    if (wait.count() <= 0)
        return false;
    pollfd p{sock, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, static_cast<int>(wait.count()));
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (events | POLLHUP | POLLERR));
}

void Address(const sockaddr_storage& a, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

// The connection as the library reads and writes it: buffered, every wait bounded by the
// read or write timeout and by the deadline of the request in progress.
class DeadlineStream : public httplib::Stream {
public:
    DeadlineStream(int sock, std::chrono::milliseconds timeout) : sock_(sock), timeout_(timeout) {}

    void StartRequest(std::chrono::milliseconds allowed) {
        deadline_ = Clock::now() + allowed;
        taken_ = 0;
    }
    bool Buffered() const { return begin_ < end_; }
    bool Spent() const { return spent_; }

    bool is_readable() const override {
        return Buffered() || Wait(sock_, POLLIN, timeout_, deadline_);
    }
    bool is_writable() const override { return Wait(sock_, POLLOUT, timeout_, deadline_); }

    ssize_t read(char* ptr, size_t size) override {
        if (!Buffered()) {
            if (!Wait(sock_, POLLIN, timeout_, deadline_))
                return -1;
            ssize_t n;
            do {
                n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0)
                return n;
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, end_ - begin_);
        // The library keeps every header line it reads: a request may not grow without end.
        taken_ += n;
        if (taken_ > kRequestBytes) {
            spent_ = true;
            return -1;
        }
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        ssize_t n;
        do {
            n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            Address(a, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage a{};
        socklen_t length = sizeof a;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&a), &length) == 0)
            Address(a, ip, port);
    }
    socket_t socket() const override { return sock_; }

private:
    int sock_;
    std::chrono::milliseconds timeout_;
    Clock::time_point deadline_ = Clock::now();
    char buffer_[4096];
    std::size_t begin_ = 0, end_ = 0;
    std::size_t taken_ = 0; // bytes of the request in progress
    bool spent_ = false;    // a request went over kRequestBytes: the connection is done
};

constexpr const char* kHtml = "text/html; charset=utf-8";

void Reply(httplib::Response& res, int status, const std::string& reason) {
    res.status = status;
    res.set_content(ErrorHtml(status, reason), kHtml);
}

// A page number: 1 to 999999999.
std::optional<std::int64_t> PageParam(const httplib::Request& req) {
    if (!req.has_param("page"))
        return 1;
    const std::string text = req.get_param_value("page");
    if (text.empty() || text.size() > 9 || text[0] == '0')
        return std::nullopt;
    std::int64_t page = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        page = page * 10 + (c - '0');
    }
    return page;
}

std::optional<RankScore> SortParam(const httplib::Request& req) {
    if (!req.has_param("sort"))
        return rsOverall;
    const std::string text = req.get_param_value("sort");
    for (int i = 0; i < rsCount; ++i)
        if (text == kRankScoreNames[i])
            return static_cast<RankScore>(i);
    return std::nullopt;
}

// Rendered ranking pages, good until this process stores an entry or, for entries other
// servers store in the same database, for kFresh.
class PageCache {
public:
    static constexpr auto kFresh = std::chrono::seconds(2);
    static constexpr std::size_t kPages = 512;

    std::shared_ptr<const std::string> Find(const std::string& key, std::uint64_t changes) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pages_.find(key);
        if (it == pages_.end() || it->second.changes != changes ||
            Clock::now() - it->second.made > kFresh)
            return nullptr;
        return it->second.body;
    }

    void Keep(const std::string& key, std::uint64_t changes,
              std::shared_ptr<const std::string> body) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pages_.size() >= kPages)
            pages_.clear();
        pages_[key] = {std::move(body), changes, Clock::now()};
    }

private:
    struct Page {
        std::shared_ptr<const std::string> body;
        std::uint64_t changes;
        Clock::time_point made;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Page> pages_;
};

} // namespace

class RankServer::Http : public httplib::Server {
public:
    Http(RankStore& store, RankServerOptions options)
        : store_(store), options_(std::move(options)) {
        if (!options_.clock)
            options_.clock = [] {
                return std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                    .count();
            };
        new_task_queue = [this] { return new BoundedPool(options_.workers, options_.waiting); };
        set_payload_max_length(kRankBodyLimit);
        set_default_headers({
            {"X-Content-Type-Options", "nosniff"},
            {"Content-Security-Policy",
             "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'"},
            {"Referrer-Policy", "no-referrer"},
        });
        Get("/", [this](const httplib::Request& req, httplib::Response& res) {
            Ranking(req, res, false);
        });
        Get("/ranking.json", [this](const httplib::Request& req, httplib::Response& res) {
            Ranking(req, res, true);
        });
        Get(R"(/entry/(\d{1,18}))",
            [this](const httplib::Request& req, httplib::Response& res) { EntryPage(req, res); });
        Post(kRankActionPath,
             [this](const httplib::Request& req, httplib::Response& res) { Submit(req, res); });
        Get(kRankActionPath, [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Allow", "POST");
            Reply(res, 405, "登録はランキング登録フォームの「送信」ボタンから行って下さい。");
        });
        set_exception_handler(
            [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
                try {
                    std::rethrow_exception(ep);
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "zelka-rank: %s\n", e.what());
                }
                Reply(res, 500, "サーバーの内部エラーです。しばらくしてからもう一度お試し下さい。");
            });
        // Statuses the library sets itself (no route, body too large, bad request) get a page.
        set_error_handler([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty())
                return;
            switch (res.status) {
            case 404:
                Reply(res, 404, "このアドレスにページはありません。");
                break;
            case 413:
                Reply(res, 413, "送信された内容が大きすぎます。");
                break;
            default:
                Reply(res, res.status, "リクエストを処理できませんでした。");
                break;
            }
        });
    }

    RankServerOptions& Options() { return options_; }

    // The library listens with a backlog of 5: a burst of new connections would wait for SYN
    // retries. Listening again widens it.
    void WidenBacklog() { ::listen(svr_sock_, 511); }

private:
    bool process_and_close_socket(socket_t sock) override {
        if (turningAway) {
            static const std::string body =
                ErrorHtml(503, "混み合っています。しばらくしてからもう一度お試し下さい。");
            const std::string reply =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + std::string(kHtml) +
                "\r\nRetry-After: 1\r\nConnection: close\r\n"
                "Content-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body;
            [[maybe_unused]] const ssize_t sent =
                ::send(sock, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            // The library writes the head and the body apart: no waiting for the peer's ACK
            // between.
            const int on = 1;
            ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            DeadlineStream stream(sock, options_.readTimeout);
            for (int served = 0; served < options_.keepAliveRequests; ++served) {
                if (served > 0 && !stream.Buffered() &&
                    !Wait(sock, POLLIN, options_.keepAlive, Clock::now() + options_.keepAlive))
                    break;
                stream.StartRequest(options_.requestDeadline);
                bool closed = false;
                const bool last = served + 1 == options_.keepAliveRequests || !is_running();
                if (!process_request(stream, last, closed, nullptr) || closed || stream.Spent())
                    break;
            }
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }

    void Ranking(const httplib::Request& req, httplib::Response& res, bool json) {
        const auto page = PageParam(req);
        const auto sort = SortParam(req);
        if (!page || !sort)
            return Reply(res, 400, "ページ番号か並び順の指定が正しくありません。");
        const char* type = json ? "application/json; charset=utf-8" : kHtml;
        const std::string key =
            std::string(json ? "j" : "h") + kRankScoreNames[*sort] + std::to_string(*page);
        const std::uint64_t changes = store_.Changes();
        auto body = cache_.Find(key, changes);
        if (!body) {
            const RankingSlice slice =
                store_.Ranking(*sort, (*page - 1) * kRankPageSize, kRankPageSize);
            body = std::make_shared<const std::string>(json ? RankingJson(slice, *sort, *page)
                                                            : RankingHtml(slice, *sort, *page));
            cache_.Keep(key, changes, body);
        }
        res.set_content(*body, type);
    }

    void EntryPage(const httplib::Request& req, httplib::Response& res) {
        const auto entry = store_.Entry(std::stoll(req.matches[1].str()));
        if (!entry)
            return Reply(res, 404, "この登録はありません。");
        res.set_content(
            EntryHtml(*entry, store_.RankOf(rsOverall, entry->scores[rsOverall]), store_.Medians()),
            kHtml);
    }

    void Submit(const httplib::Request& req, httplib::Response& res) {
        std::string type = req.get_header_value("Content-Type");
        std::transform(type.begin(), type.end(), type.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!type.starts_with("application/x-www-form-urlencoded"))
            return Reply(res, 415,
                         "送信の形式が違います。ランキング登録フォームから送信して下さい。");
        const RankVerdict verdict = VerifySubmission(req.body);
        if (!verdict.entry)
            return Reply(res, verdict.refusal.status, verdict.refusal.reason);
        const StoredEntry stored = store_.Add(*verdict.entry, options_.clock());
        res.set_content(StoredHtml(stored, verdict.entry->scores[rsOverall]), kHtml);
    }

    RankStore& store_;
    RankServerOptions options_;
    PageCache cache_;
};

RankServer::RankServer(RankStore& store, RankServerOptions options)
    : http_(std::make_unique<Http>(store, std::move(options))) {}

RankServer::~RankServer() = default;

int RankServer::Bind() {
    const int wanted = http_->Options().port;
    const int port = wanted == 0
                         ? http_->bind_to_any_port(http_->Options().host)
                         : (http_->bind_to_port(http_->Options().host, wanted) ? wanted : -1);
    if (port > 0)
        http_->WidenBacklog();
    return port;
}

bool RankServer::Serve() {
    return http_->listen_after_bind();
}

void RankServer::Stop() {
    http_->stop();
}
