// zelka-rank-hostile: hostile clients against a zelka-rank on loopback, for bench-rank.sh.
//   zelka-rank-hostile slow PORT SECONDS
//     200 slow-head and 200 idle keep-alive sockets from other loopback addresses (127.0.1.x,
//     8 to an address, each reopened when the service closes it) while one visitor from
//     127.0.0.1 asks for GET / again and again; prints the visitor's p99 latency in ms.
//   zelka-rank-hostile bombs PORT SECONDS PID
//     16 clients (127.0.2.x) sending compressed and chunked bodies: a gzip stream of 64 MiB of
//     zeros, declared and chunked, a chunked body of 70 KB, a length over the limit; prints
//     the service's peak resident memory (VmHWM of PID) in MB.
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port, const std::string& from) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    ::bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        return -1;
    }
    return s;
}

void SendAll(int s, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(s, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// Reads until the peer closes or `timeoutMs` of silence; whether anything came.
bool Drain(int s, int timeoutMs) {
    char buffer[16384];
    bool got = false;
    for (;;) {
        pollfd p{s, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return got;
        const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            return got;
        got = true;
    }
}

// Whether the service closed the socket (without blocking).
bool Closed(int s) {
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    char buffer[16384];
    const ssize_t n = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN);
}

int Slow(int port, int seconds) {
    struct Hostile {
        int fd;
        std::string from;
        bool slow;
    };
    std::vector<Hostile> crowd;
    auto open = [port](Hostile& h) {
        h.fd = Connect(port, h.from);
        if (h.fd < 0)
            return;
        if (h.slow) {
            SendAll(h.fd, "GET / HTTP/1.1\r\nHost: x\r\nX-Slow: ");
        } else {
            SendAll(h.fd, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
            Drain(h.fd, 50); // the reply; then it idles, kept alive
        }
    };
    for (int i = 0; i < 400; ++i) {
        Hostile h{-1, "127.0.1." + std::to_string(1 + i / 8), i % 2 == 0};
        open(h);
        crowd.push_back(h);
    }
    std::atomic<bool> running{true};
    std::thread keeper([&] {
        auto lastByte = Clock::now();
        while (running) {
            const bool trickle = Clock::now() - lastByte > std::chrono::seconds(1);
            for (Hostile& h : crowd) {
                if (h.fd < 0 || Closed(h.fd)) {
                    if (h.fd >= 0)
                        ::close(h.fd);
                    open(h);
                } else if (trickle && h.slow) {
                    SendAll(h.fd, "a");
                }
            }
            if (trickle)
                lastByte = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the crowd in place
    std::vector<double> latencies;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    int failures = 0;
    while (Clock::now() < end && latencies.size() < 200000) {
        const auto start = Clock::now();
        const int s = Connect(port, "127.0.0.1");
        bool ok = false;
        if (s >= 0) {
            SendAll(s, "GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
            char head[16];
            pollfd p{s, POLLIN, 0};
            ok = ::poll(&p, 1, 5000) > 0 && ::recv(s, head, sizeof head, MSG_PEEK) >= 12 &&
                 std::string(head, 12) == "HTTP/1.1 200";
            Drain(s, 5000);
            ::close(s);
        }
        failures += !ok;
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    running = false;
    keeper.join();
    for (Hostile& h : crowd)
        if (h.fd >= 0)
            ::close(h.fd);
    std::sort(latencies.begin(), latencies.end());
    const double p99 = latencies.empty() ? 1e9 : latencies[latencies.size() * 99 / 100];
    std::fprintf(stderr, "zelka-rank-hostile: %zu visits, %d not answered 200\n", latencies.size(),
                 failures);
    std::printf("%.2f\n", failures > 0 ? 1e9 : p99);
    return 0;
}

std::string Gzip(std::size_t zeros) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string in(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (std::size_t left = zeros; left > 0 || z.avail_in > 0;) {
        if (z.avail_in == 0) {
            const std::size_t n = std::min(left, in.size());
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
            z.avail_in = static_cast<uInt>(n);
            left -= n;
        }
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&z);
    return out;
}

std::string Chunked(const std::string& body) {
    std::string out;
    for (std::size_t i = 0; i < body.size(); i += 4096) {
        const std::size_t n = std::min<std::size_t>(4096, body.size() - i);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size + body.substr(i, n) + "\r\n";
    }
    return out + "0\r\n\r\n";
}

long PeakKb(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::atol(line.c_str() + 6);
    return -1;
}

int Bombs(int port, int seconds, int pid) {
    const std::string bomb = Gzip(64u << 20);
    const std::string post = "POST /cgi-bin/zelka.cgi HTTP/1.1\r\nHost: x\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string requests[] = {
        post + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(bomb.size()) +
            "\r\n\r\n" + bomb,
        post + "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(bomb),
        post + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(std::string(70000, 'a')),
        post + "Content-Length: 8193\r\n\r\n",
    };
    std::atomic<long> sent{0};
    std::vector<std::thread> clients;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&, i] {
            const std::string from = "127.0.2." + std::to_string(1 + i);
            for (int k = i; Clock::now() < end; ++k) {
                const int s = Connect(port, from);
                if (s < 0)
                    continue;
                SendAll(s, requests[k % 4]);
                Drain(s, 2000);
                ::close(s);
                ++sent;
            }
        });
    for (std::thread& t : clients)
        t.join();
    std::fprintf(stderr, "zelka-rank-hostile: %ld bodies sent (gzip of 64 MiB: %zu bytes)\n",
                 sent.load(), bomb.size());
    std::printf("%.1f\n", PeakKb(pid) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "slow" && argc == 4)
        return Slow(std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "bombs" && argc == 5)
        return Bombs(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    std::fprintf(stderr, "usage: zelka-rank-hostile slow PORT SECONDS | bombs PORT SECONDS PID\n");
    return 2;
}
