#include "RankServer.h"

#include "ExploreRoutes.h"
#include "ModelPages.h"
#include "OpenData.h"
#include "RankCheck.h"
#include "RankPages.h"
#include "RequestHead.h"
#include "Submission.h"

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <microhttpd.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json; charset=utf-8";
// The most a request's head may take (MHD's memory per connection holds it).
constexpr std::size_t kConnectionMemory = 16 * 1024;
// Connections beyond the cap get this long to send a head and be told 503.
constexpr auto kOverloadedDeadline = std::chrono::milliseconds(1000);
// Connections MHD itself takes beyond the cap: those are answered 503 by us; past these it
// closes new ones unanswered.
constexpr int kOverflow = 64;
// Seconds a client is asked to wait while the database is away.
constexpr int kDatabaseRetryAfter = 5;
// The path a request for the base path itself (no slash after it) stands for.
constexpr std::string_view kBaseItself = "\x01"
                                         "base";

// The site's path behind its proxy, for the thread that makes a reply (each server's threads
// set it from its options).
thread_local std::string tBasePath;

// The site's own links in a page (`href="/`, `action="/`) pointed under the base path. User
// texts are escaped, so a quote in a page is always the markup's own.
std::string Rebased(const std::string& html) {
    if (tBasePath.empty())
        return html;
    std::string out;
    out.reserve(html.size() + 256);
    std::size_t from = 0;
    for (;;) {
        std::size_t at = std::string::npos, length = 0;
        for (const std::string_view link :
             {std::string_view("href=\"/"), std::string_view("action=\"/")}) {
            const std::size_t found = html.find(link, from);
            if (found < at) {
                at = found;
                length = link.size();
            }
        }
        if (at == std::string::npos)
            break;
        out.append(html, from, at + length - 1 - from);
        out += tBasePath;
        from = at + length - 1;
    }
    out.append(html, from, std::string::npos);
    return out;
}

// A reply ready to queue: MHD counts its uses, so a cached one is sent again and again.
struct Answer {
    unsigned status = 0;
    std::shared_ptr<MHD_Response> response;
};

Answer MakeAnswer(unsigned status, const std::string& body, const char* type,
                  std::initializer_list<std::pair<const char*, std::string>> headers = {},
                  bool close = false) {
    const std::string rebased =
        tBasePath.empty() || std::string_view(type) != kHtml ? std::string() : Rebased(body);
    const std::string& page = rebased.empty() ? body : rebased;
    MHD_Response* r = MHD_create_response_from_buffer(page.size(), const_cast<char*>(page.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, "Content-Type", type);
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(
        r, "Content-Security-Policy",
        "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'");
    MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
    for (const auto& [name, value] : headers)
        MHD_add_response_header(
            r, name, (std::string_view(name) == "Location" ? tBasePath + value : value).c_str());
    if (close)
        MHD_add_response_header(r, "Connection", "close");
    return {status, std::shared_ptr<MHD_Response>(r, MHD_destroy_response)};
}

Answer ErrorAnswer(unsigned status, const std::string& reason, bool close = false,
                   std::initializer_list<std::pair<const char*, std::string>> headers = {}) {
    return MakeAnswer(status, ErrorHtml(static_cast<int>(status), reason), kHtml, headers, close);
}

// One connection, from accept to close.
struct Peer {
    int fd = -1;
    std::string address;     // canonical: an IPv4-mapped address as the IPv4 address
    std::string bucket;      // what the per-address limit counts it as
    Clock::time_point since; // the accept, then the start and the end of each request
    bool overloaded = false; // accepted beyond the cap: told 503
    bool cut = false;        // past its deadline: its socket was shut down
    bool proxy = false;      // a trusted proxy's: kept open while idle for proxyKeepAlive
    bool busy = false;       // a request's head is in, its reply not yet sent
};

// One request on a connection, from its head to the end of its reply.
struct Exchange {
    MHD_Connection* connection = nullptr;
    std::string method, path;
    bool post = false;
    bool tooLarge = false;
    bool working = false;  // suspended, handed to a database worker
    bool answered = false; // a reply queued
    std::string body;
    std::string client; // the address the post limit counts
    std::function<Answer(RankStore&)> work;
    std::string cacheKey;   // a cached page that may stand in while the database is away
    bool repeatable = true; // the work may run again after a lost connection
    Answer answer;
};

// Rendered ranking pages, good until this process stores an entry or, for changes other
// servers make in the same database, for kFresh.
class PageCache {
public:
    static constexpr auto kFresh = std::chrono::seconds(2);
    static constexpr std::size_t kPages = 512;

    std::optional<Answer> Find(const std::string& key, std::uint64_t changes) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pages_.find(key);
        if (it == pages_.end() || it->second.changes != changes ||
            Clock::now() - it->second.made > kFresh)
            return std::nullopt;
        return it->second.answer;
    }

    // The page however old: while the database is away, an old page beats none.
    std::optional<Answer> FindAny(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = pages_.find(key);
        if (it == pages_.end())
            return std::nullopt;
        return it->second.answer;
    }

    void Keep(const std::string& key, std::uint64_t changes, Answer answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pages_.size() >= kPages)
            pages_.clear();
        pages_[key] = {std::move(answer), changes, Clock::now()};
    }

private:
    struct Page {
        Answer answer;
        std::uint64_t changes;
        Clock::time_point made;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Page> pages_;
};

std::string AddressText(const sockaddr* a) {
    char text[INET6_ADDRSTRLEN] = "";
    if (a && a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a && a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                  sizeof text);
    return text;
}

// A decimal id of 1 to 18 digits.
std::optional<std::int64_t> IdOf(std::string_view text) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return std::stoll(std::string(text));
}

bool IsToken(std::string_view text) {
    return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

class RankServer::Http {
public:
    Http(RankStore& store, RankServerOptions options)
        : store_(store), options_(std::move(options)) {
        if (!options_.clock)
            options_.clock = [] {
                return std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                    .count();
            };
        if (!options_.steadyClock)
            options_.steadyClock = [] { return Clock::now(); };
        if (!options_.log)
            options_.log = [](const std::string& line) {
                std::fprintf(stderr, "zelka-rank: %s\n", line.c_str());
            };
        // Made here, on the caller's thread: their links under this server's base path.
        const std::string callersBase = std::exchange(tBasePath, options_.basePath);
        busy_ = ErrorAnswer(503, "混み合っています。しばらくしてからもう一度お試し下さい。", true,
                            {{"Retry-After", "1"}});
        databaseAway_ = ErrorAnswer(
            503, "ただいまデータベースにつながりません。しばらくしてからもう一度お試し下さい。",
            false, {{"Retry-After", std::to_string(kDatabaseRetryAfter)}});
        tBasePath = callersBase;
    }

    ~Http() { Shutdown(); }

    RankServerOptions& Options() { return options_; }

    int Bind() {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string port = std::to_string(options_.port);
        if (::getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
            return -1;
        int fd = -1;
        bool v6 = false;
        for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
            fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                continue;
            const int on = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 511) != 0) {
                ::close(fd);
                fd = -1;
                continue;
            }
            v6 = a->ai_family == AF_INET6;
        }
        ::freeaddrinfo(found);
        if (fd < 0)
            return -1;
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        const int boundPort = ntohs(v6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                       : reinterpret_cast<sockaddr_in&>(bound).sin_port);

        for (int i = 0; i < std::max(1, options_.workers); ++i)
            workers_.emplace_back([this] { Work(); });
        sweeper_ = std::thread([this] { Sweep(); });
        const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL |
                               MHD_ALLOW_SUSPEND_RESUME | (v6 ? MHD_USE_IPv6 : 0);
        daemon_ = MHD_start_daemon(
            flags, 0, &Http::Admit, this, &Http::Access, this, MHD_OPTION_LISTEN_SOCKET, fd,
            MHD_OPTION_CONNECTION_LIMIT,
            static_cast<unsigned>(std::max(1, options_.maxConnections) + kOverflow),
            MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options_.keepAlive.count()),
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_NOTIFY_CONNECTION,
            &Http::Notify, this, MHD_OPTION_NOTIFY_COMPLETED, &Http::Completed, this,
            MHD_OPTION_END);
        if (!daemon_) {
            ::close(fd);
            Shutdown();
            return -1;
        }
        return boundPort;
    }

    bool Serve() {
        if (!daemon_)
            return false;
        std::unique_lock<std::mutex> lock(stopMutex_);
        stopped_.wait(lock, [this] { return stopping_; });
        lock.unlock();
        Shutdown();
        return true;
    }

    void Stop() {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
        stopped_.notify_all();
    }

private:
    // Stops accepting, answers the requests still waiting for a worker 503, then closes every
    // connection.
    void Shutdown() {
        if (daemon_) {
            const MHD_socket listener = MHD_quiesce_daemon(daemon_);
            if (listener != MHD_INVALID_SOCKET)
                ::close(listener);
        }
        {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            workersStopping_ = true;
        }
        jobsReady_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        workers_.clear();
        {
            std::lock_guard<std::mutex> lock(peersMutex_);
            sweeping_ = false;
        }
        sweep_.notify_all();
        if (sweeper_.joinable())
            sweeper_.join();
        if (daemon_)
            MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }

    // --- Connections ---------------------------------------------------------------------

    static MHD_Result Admit(void* self, const sockaddr* address, socklen_t) {
        return static_cast<Http*>(self)->AdmitAddress(AddressText(address)) ? MHD_YES : MHD_NO;
    }

    bool AdmitAddress(const std::string& address) {
        std::lock_guard<std::mutex> lock(peersMutex_);
        const std::string canonical = CanonicalAddress(address);
        if (options_.trustProxy.Contains(canonical))
            return true;
        const auto it = perAddress_.find(LimitBucket(canonical));
        return it == perAddress_.end() || it->second < options_.perAddress;
    }

    static void Notify(void* cls, MHD_Connection* connection, void** context,
                       MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Http*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* peer = new Peer;
            const MHD_ConnectionInfo* fd =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            const MHD_ConnectionInfo* address =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            peer->fd = fd ? fd->connect_fd : -1;
            peer->address = CanonicalAddress(address ? AddressText(address->client_addr) : "");
            peer->bucket = LimitBucket(peer->address);
            peer->proxy = self->options_.trustProxy.Contains(peer->address);
            peer->since = self->options_.steadyClock();
            std::lock_guard<std::mutex> lock(self->peersMutex_);
            ++self->perAddress_[peer->bucket];
            self->peers_.insert(peer);
            peer->overloaded =
                static_cast<int>(self->peers_.size()) > self->options_.maxConnections;
            *context = peer;
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto* peer = static_cast<Peer*>(*context);
            if (!peer)
                return;
            std::lock_guard<std::mutex> lock(self->peersMutex_);
            self->peers_.erase(peer);
            if (--self->perAddress_[peer->bucket] <= 0)
                self->perAddress_.erase(peer->bucket);
            delete peer;
            *context = nullptr;
        }
    }

    static Peer* PeerOf(MHD_Connection* connection) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Peer*>(info->socket_context) : nullptr;
    }

    static void Completed(void* cls, MHD_Connection* connection, void** request,
                          MHD_RequestTerminationCode) {
        auto* self = static_cast<Http*>(cls);
        delete static_cast<Exchange*>(*request);
        *request = nullptr;
        if (Peer* peer = PeerOf(connection)) {
            std::lock_guard<std::mutex> lock(self->peersMutex_);
            peer->since = self->options_.steadyClock();
            peer->busy = false;
        }
    }

    // Shuts the sockets of connections past their deadline; MHD then finds them closed.
    // MHD's own timeout counts only silence, so a client trickling bytes is cut here.
    void Sweep() {
        std::unique_lock<std::mutex> lock(peersMutex_);
        while (sweeping_) {
            sweep_.wait_for(lock, std::chrono::milliseconds(100));
            const Clock::time_point now = options_.steadyClock();
            for (Peer* peer : peers_) {
                const auto allowed =
                    peer->overloaded
                        ? std::min<Clock::duration>(kOverloadedDeadline, options_.requestDeadline)
                    : peer->proxy && !peer->busy
                        ? std::max<Clock::duration>(options_.proxyKeepAlive,
                                                    options_.requestDeadline)
                        : Clock::duration(options_.requestDeadline);
                if (!peer->cut && peer->fd >= 0 && now - peer->since > allowed) {
                    ::shutdown(peer->fd, SHUT_RDWR);
                    peer->cut = true;
                }
            }
        }
    }

    // --- Requests ------------------------------------------------------------------------

    static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* upload,
                             size_t* uploadSize, void** request) {
        auto* self = static_cast<Http*>(cls);
        tBasePath = self->options_.basePath;
        auto* exchange = static_cast<Exchange*>(*request);
        if (!exchange) {
            exchange = new Exchange;
            *request = exchange;
            exchange->connection = connection;
            exchange->method = method;
            exchange->path = self->SitePath(url);
            return self->Head(*exchange);
        }
        if (exchange->answered)
            return MHD_YES;
        if (*uploadSize > 0) {
            if (exchange->tooLarge || exchange->body.size() + *uploadSize > kRankBodyLimit) {
                // A chunked body stops here: what remains is not read.
                exchange->tooLarge = true;
                *uploadSize = 0;
                return self->Queue(*exchange,
                                   ErrorAnswer(413, "送信された内容が大きすぎます。", true))
                           ? MHD_YES
                           : MHD_NO;
            }
            exchange->body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->working) {
            if (!exchange->answer.response)
                return MHD_YES;
            exchange->working = false;
            return self->Queue(*exchange, exchange->answer) ? MHD_YES : MHD_NO;
        }
        return self->Body(*exchange);
    }

    bool Queue(Exchange& exchange, const Answer& answer) {
        const MHD_Result queued =
            MHD_queue_response(exchange.connection, answer.status, answer.response.get());
        exchange.answered = queued == MHD_YES;
        return exchange.answered;
    }

    MHD_Result Reply(Exchange& exchange, const Answer& answer) {
        return Queue(exchange, answer) ? MHD_YES : MHD_NO;
    }

    static MHD_Result Collect(void* list, MHD_ValueKind, const char* key, const char* value) {
        static_cast<HeaderList*>(list)->emplace_back(key ? key : "", value ? value : "");
        return MHD_YES;
    }

    HeaderList Values(MHD_Connection* connection, MHD_ValueKind kind) {
        HeaderList values;
        MHD_get_connection_values(connection, kind, &Http::Collect, &values);
        return values;
    }

    // The head alone: refused at once, answered from the page cache, handed to a worker, or
    // (a post) its body read next.
    MHD_Result Head(Exchange& ex) {
        Peer* peer = PeerOf(ex.connection);
        if (peer && peer->overloaded)
            return Reply(ex, busy_);
        if (peer && peer->proxy) {
            // A proxy's connection waits between requests as long as the proxy keeps it; its
            // request's deadline runs from its head.
            MHD_set_connection_option(ex.connection, MHD_CONNECTION_OPTION_TIMEOUT,
                                      static_cast<unsigned>(options_.proxyKeepAlive.count()));
            std::lock_guard<std::mutex> lock(peersMutex_);
            peer->busy = true;
            peer->since = options_.steadyClock();
        }
        const bool get = ex.method == "GET" || ex.method == "HEAD";
        ex.post = ex.method == "POST";
        const bool formPost =
            ex.post && (ex.path == kRankActionPath || ex.path.starts_with("/withdraw/"));
        const HeaderList headers = Values(ex.connection, MHD_HEADER_KIND);
        if (const auto refusal = CheckRequestHead(headers, formPost, kRankBodyLimit))
            return Reply(
                ex, ErrorAnswer(static_cast<unsigned>(refusal->status), refusal->reason, true));
        if (ex.post) {
            if (!formPost)
                return Reply(ex, NotFound(true));
            std::vector<std::string> forwarded;
            for (const auto& [name, value] : headers)
                if (strcasecmp(name.c_str(), "X-Forwarded-For") == 0)
                    forwarded.push_back(value);
            const auto client =
                ClientAddress(peer ? peer->address : "", options_.trustProxy, forwarded);
            if (!client)
                return Reply(ex, ErrorAnswer(400,
                                             "転送元の記録（X-Forwarded-For）に IP アドレスでない"
                                             "項目があります。",
                                             true));
            ex.client = LimitBucket(*client);
            return MHD_YES; // the body next
        }
        if (!get)
            return Reply(ex, ErrorAnswer(405, "この方法（" + ex.method + "）では使えません。", true,
                                         {{"Allow", "GET, HEAD, POST"}}));
        // Answered once the request is complete: MHD keeps a connection open only for a reply
        // queued after the whole request was read.
        return MHD_YES;
    }

    Answer NotFound(bool close = false) {
        return ErrorAnswer(404, "このアドレスにページはありません。", close);
    }

    std::optional<std::string> Argument(MHD_Connection* connection, const char* name) {
        for (const auto& [key, value] : Values(connection, MHD_GET_ARGUMENT_KIND))
            if (key == name)
                return value;
        return std::nullopt;
    }

    // The path within the site: under the base path, that part taken off; outside it, empty
    // (not found); the base path itself, kBaseItself (redirected to the site's root).
    std::string SitePath(const char* url) const {
        const std::string_view path = url ? url : "";
        const std::string& base = options_.basePath;
        if (base.empty())
            return std::string(path);
        if (path == base)
            return std::string(kBaseItself);
        if (path.size() > base.size() && path.starts_with(base) && path[base.size()] == '/')
            return std::string(path.substr(base.size()));
        return {};
    }

    MHD_Result Get(Exchange& ex) {
        if (ex.path == kBaseItself)
            return Reply(ex, MakeAnswer(301, "", kHtml, {{"Location", "/"}}));
        if (ex.path == "/" || ex.path == "/ranking.json")
            return Ranking(ex, ex.path != "/");
        if (ex.path.starts_with("/data/"))
            return OpenData(ex);
        if (auto route = FindExploreRoute(
                ex.path, [&](const char* name) { return Argument(ex.connection, name); }))
            return Explore(ex, std::move(*route));
        if (ex.path.starts_with("/entry/")) {
            const auto id = IdOf(std::string_view(ex.path).substr(7));
            if (!id)
                return Reply(ex, NotFound());
            return Hand(ex, [this, id = *id](RankStore& store) {
                const auto entry = store.Entry(id);
                if (!entry)
                    return ErrorAnswer(404, "この登録はありません。");
                return MakeAnswer(
                    200,
                    EntryHtml(*entry, store.RankOf(rsOverall, entry->scores[rsOverall]),
                              store.Medians(), StandingHtml(*entry, *statistics_.Current())),
                    kHtml);
            });
        }
        if (ex.path.starts_with("/withdraw/")) {
            const auto id = IdOf(std::string_view(ex.path).substr(10));
            const std::string token = Argument(ex.connection, "token").value_or("");
            if (!id || !IsToken(token))
                return Reply(ex, WithdrawalUnknown());
            return Hand(ex, [this, id = *id, token](RankStore& store) {
                return store.WithdrawalValid(id, token)
                           ? MakeAnswer(200, WithdrawConfirmHtml(id, token), kHtml)
                           : WithdrawalUnknown();
            });
        }
        if (ex.path == kRankActionPath)
            return Reply(
                ex,
                ErrorAnswer(405, "登録はランキング登録フォームの「送信」ボタンから行って下さい。",
                            false, {{"Allow", "POST"}}));
        return Reply(ex, NotFound());
    }

    static Answer WithdrawalUnknown() {
        return ErrorAnswer(404, "この取り下げのリンクは使えません（取り下げ済みか、リンクが"
                                "正しくありません）。");
    }

    std::optional<std::int64_t> PageArgument(MHD_Connection* connection) {
        const auto text = Argument(connection, "page");
        if (!text)
            return 1;
        return ParseDecimal(*text, 1, 999'999'999);
    }

    std::optional<RankScore> SortArgument(MHD_Connection* connection) {
        const auto text = Argument(connection, "sort");
        if (!text)
            return rsOverall;
        for (int i = 0; i < rsCount; ++i)
            if (*text == kRankScoreNames[i])
                return static_cast<RankScore>(i);
        return std::nullopt;
    }

    MHD_Result Ranking(Exchange& ex, bool json) {
        const auto page = PageArgument(ex.connection);
        const auto sort = SortArgument(ex.connection);
        if (!page || !sort)
            return Reply(ex, ErrorAnswer(400, "ページ番号か並び順の指定が正しくありません。"));
        const std::string key =
            std::string(json ? "j" : "h") + kRankScoreNames[*sort] + std::to_string(*page);
        if (auto cached = databaseDown_ ? cache_.FindAny(key) : cache_.Find(key, store_.Changes()))
            return Reply(ex, *cached);
        ex.cacheKey = key;
        return Hand(ex, [this, json, key, page = *page, sort = *sort](RankStore& store) {
            const std::uint64_t changes = store.Changes();
            const RankingSlice slice =
                store.Ranking(sort, (page - 1) * kRankPageSize, kRankPageSize);
            Answer answer = MakeAnswer(
                200, json ? RankingJson(slice, sort, page) : RankingHtml(slice, sort, page),
                json ? kJson : kHtml);
            cache_.Keep(key, changes, answer);
            return answer;
        });
    }

    // The pages that compare: answered from the page cache, or made by a worker.
    MHD_Result Explore(Exchange& ex, ExploreRoute route) {
        if (!route.cacheKey.empty())
            if (auto cached = cache_.Find(route.cacheKey, store_.Changes()))
                return Reply(ex, *cached);
        return Hand(ex, [this, route = std::move(route)](RankStore& store) {
            const std::uint64_t changes = store.Changes();
            const ExplorePage page = route.make(store, statistics_);
            Answer answer = MakeAnswer(static_cast<unsigned>(page.status), page.body,
                                       page.json ? kJson : kHtml);
            if (page.status == 200 && !route.cacheKey.empty())
                cache_.Keep(route.cacheKey, changes, answer);
            return answer;
        });
    }

    // The open data: the README, or a file sent from disk unless the client's copy is current.
    MHD_Result OpenData(Exchange& ex) {
        if (ex.path == "/data/README")
            return Reply(ex, MakeAnswer(200, OpenDataReadme(), "text/plain; charset=utf-8",
                                        {{"Access-Control-Allow-Origin", "*"}}));
        const bool entries = ex.path == "/data/entries.jsonl";
        if (!entries && ex.path != "/data/withdrawn.json")
            return Reply(ex, NotFound());
        std::string ifNoneMatch, ifModifiedSince;
        for (const auto& [name, value] : Values(ex.connection, MHD_HEADER_KIND)) {
            if (strcasecmp(name.c_str(), "If-None-Match") == 0)
                ifNoneMatch = value;
            else if (strcasecmp(name.c_str(), "If-Modified-Since") == 0)
                ifModifiedSince = value;
        }
        return Hand(ex, [this, entries, ifNoneMatch, ifModifiedSince](RankStore&) {
            const OpenDataFiles::File file =
                dataFiles_.Current(entries ? DataFile::Entries : DataFile::Withdrawn);
            const std::string modified = HttpDate(file.modified);
            const bool current =
                !ifNoneMatch.empty()
                    ? ifNoneMatch == "*" || ifNoneMatch.find(file.etag) != std::string::npos
                    : ifModifiedSince == modified;
            const std::initializer_list<std::pair<const char*, std::string>> headers = {
                {"ETag", file.etag},
                {"Last-Modified", modified},
                {"Cache-Control", "no-cache"},
                {"Access-Control-Allow-Origin", "*"}};
            const char* type = entries ? "application/jsonl; charset=utf-8" : kJson;
            if (current)
                return MakeAnswer(304, "", type, headers);
            const int fd = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
            MHD_Response* r =
                fd < 0 ? nullptr
                       : MHD_create_response_from_fd(static_cast<std::uint64_t>(file.size), fd);
            if (!r) {
                if (fd >= 0)
                    ::close(fd);
                throw std::runtime_error("cannot send " + file.path);
            }
            MHD_add_response_header(r, "Content-Type", type);
            MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
            for (const auto& [name, value] : headers)
                MHD_add_response_header(r, name, value.c_str());
            return Answer{200, std::shared_ptr<MHD_Response>(r, MHD_destroy_response)};
        });
    }

    // The whole request is in: a post is checked here, then stored by a worker.
    MHD_Result Body(Exchange& ex) {
        if (!ex.post)
            return Get(ex);
        if (ex.path == kRankActionPath) {
            const RankVerdict verdict = VerifySubmission(ex.body);
            if (!verdict.entry)
                return Reply(ex, ErrorAnswer(static_cast<unsigned>(verdict.refusal.status),
                                             verdict.refusal.reason));
            PostRules rules;
            rules.address = ex.client;
            rules.limit = options_.postLimit;
            rules.ceilings = options_.ceilings;
            return Hand(ex, [this, entry = *verdict.entry, rules](RankStore& store) {
                const StoredEntry stored = store.Add(entry, options_.clock(), rules);
                if (stored.retryAfter > 0)
                    return ErrorAnswer(429,
                                       "短い間に登録が多すぎます。" +
                                           std::to_string((stored.retryAfter + 59) / 60) +
                                           " 分ほど待ってからもう一度お試し下さい。",
                                       false, {{"Retry-After", std::to_string(stored.retryAfter)}});
                return MakeAnswer(200, StoredHtml(stored, entry.scores[rsOverall]), kHtml);
            });
        }
        // POST /withdraw/ID, the confirmation's button.
        const auto id = IdOf(std::string_view(ex.path).substr(10));
        const auto fields = ParseFormBody(ex.body);
        std::string token;
        if (fields)
            for (const auto& [name, value] : *fields)
                if (name == "token")
                    token = value;
        if (!id || !IsToken(token))
            return Reply(ex, WithdrawalUnknown());
        ex.repeatable = false; // a second try would find it withdrawn and say the link is bad
        return Hand(ex, [id = *id, token](RankStore& store) {
            return store.Withdraw(id, token) ? MakeAnswer(200, WithdrawnHtml(id), kHtml)
                                             : WithdrawalUnknown();
        });
    }

    // --- Database workers ----------------------------------------------------------------

    // Suspends the connection and queues its database work; the worker resumes it with the
    // answer.
    MHD_Result Hand(Exchange& ex, std::function<Answer(RankStore&)> work) {
        ex.work = std::move(work);
        ex.working = true;
        MHD_suspend_connection(ex.connection);
        {
            std::lock_guard<std::mutex> lock(jobsMutex_);
            jobs_.push_back(&ex);
        }
        jobsReady_.notify_one();
        return MHD_YES;
    }

    void Work() {
        tBasePath = options_.basePath;
        for (;;) {
            Exchange* ex = nullptr;
            bool stopping = false;
            {
                std::unique_lock<std::mutex> lock(jobsMutex_);
                jobsReady_.wait(lock, [this] { return workersStopping_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                ex = jobs_.front();
                jobs_.pop_front();
                stopping = workersStopping_;
            }
            Answer answer;
            if (stopping) {
                answer = busy_;
            } else {
                try {
                    try {
                        answer = ex->work(store_);
                    } catch (const RankUnavailable& lost) {
                        // A connection lost under the request: once more on a new one, where
                        // running it twice cannot do it twice (a post's second try finds the
                        // first in the reload check if the first was stored after all).
                        if (!lost.Lost() || !ex->repeatable)
                            throw;
                        answer = ex->work(store_);
                    }
                    if (databaseDown_.exchange(false))
                        options_.log("the database is back");
                } catch (const RankUnavailable& e) {
                    if (!databaseDown_.exchange(true))
                        options_.log(std::string(e.what()) +
                                     "; answering 503 (or the last pages) until it is back");
                    const auto cached =
                        ex->cacheKey.empty() ? std::nullopt : cache_.FindAny(ex->cacheKey);
                    answer = cached ? *cached : databaseAway_;
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "zelka-rank: %s\n", e.what());
                    answer = ErrorAnswer(
                        500, "サーバーの内部エラーです。しばらくしてからもう一度お試し下さい。");
                }
            }
            ex->answer = std::move(answer);
            MHD_resume_connection(ex->connection);
        }
    }

    RankStore& store_;
    RankServerOptions options_;
    PageCache cache_;
    RankStatistics statistics_{store_};
    OpenDataFiles dataFiles_{store_};
    Answer busy_;
    Answer databaseAway_;
    // Since a worker found the database unreachable, until one reaches it again: logged once
    // each way, and cached pages are served however old.
    std::atomic<bool> databaseDown_{false};
    MHD_Daemon* daemon_ = nullptr;

    std::mutex peersMutex_;
    std::unordered_set<Peer*> peers_;
    std::unordered_map<std::string, int> perAddress_;
    bool sweeping_ = true;
    std::condition_variable sweep_;
    std::thread sweeper_;

    std::mutex jobsMutex_;
    std::condition_variable jobsReady_;
    std::deque<Exchange*> jobs_;
    bool workersStopping_ = false;
    std::vector<std::thread> workers_;

    std::mutex stopMutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

RankServer::RankServer(RankStore& store, RankServerOptions options)
    : http_(std::make_unique<Http>(store, std::move(options))) {}

RankServer::~RankServer() = default;

int RankServer::Bind() {
    return http_->Bind();
}

bool RankServer::Serve() {
    return http_->Serve();
}

void RankServer::Stop() {
    http_->Stop();
}
