// zelka-rank-fill DATABASE COUNT: adds made-up entries through the service's own store until
// COUNT are stored, so the ranking can be measured at a realistic size; prints how many are.
#include "rank/RankStore.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zelka-rank-fill DATABASE COUNT\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    const long long wanted = std::atoll(argv[2]);
    try {
        RankStore store(argv[1]);
        store.CreateSchema();
        const long long stored = store.Ranking(rsOverall, 0, 1).total;
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> score(1000, 200000);
        const char* machines[] = {"Pentium MMX 233MHz", "Celeron 300A", "K6-2 350MHz",
                                  "PentiumII 400MHz"};
        const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        for (long long i = stored; i < wanted; ++i) {
            RankSubmission s;
            std::int64_t sum = 0;
            for (int k = rsCpu; k <= rsDisk; ++k)
                sum += s.scores[k] = score(random);
            s.scores[rsOverall] = static_cast<std::int32_t>(sum / 5);
            s.text = {"計測者" + std::to_string(i),
                      machines[i % 4],
                      "Voodoo2",
                      "64MB",
                      "4.3GB",
                      "ベンチマーク用の登録 " + std::to_string(i)};
            store.Add(s, now - (wanted - i));
        }
        std::printf("%lld\n", static_cast<long long>(store.Ranking(rsOverall, 0, 1).total));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zelka-rank-fill: %s\n", e.what());
        return 1;
    }
    return 0;
}
