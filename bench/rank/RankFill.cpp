// zelka-rank-fill DATABASE COUNT: adds made-up entries through the service's own store until
// COUNT are stored, so the ranking can be measured at a realistic size; prints how many are.
// The entries name about 260 processor models (10 families, clocks 166 to 1000 MHz, each
// written three ways) and 30 video cards; bench/rank/model.lua asks for the same models.
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
        std::uniform_int_distribution<int> score(80, 120);
        const char* families[] = {"Pentium MMX",  "Pentium II", "Pentium III", "Celeron",
                                  "K6-2",         "K6-III",     "Athlon",      "Duron",
                                  "Cyrix 6x86MX", "WinChip C6"};
        const char* spellings[] = {"%s %dMHz", "%s %d MHz", "%s(TM) %dMHz Processor"};
        const char* videos[] = {
            "Voodoo",      "Voodoo2",    "Voodoo3 2000",  "Voodoo3 3000",    "Banshee",
            "RIVA 128",    "RIVA TNT",   "RIVA TNT2",     "RIVA TNT2 Ultra", "GeForce 256",
            "GeForce2 MX", "Rage Pro",   "Rage 128",      "Rage 128 Pro",    "Radeon",
            "G200",        "G400",       "G450",          "Savage3D",        "Savage4",
            "Permedia 2",  "Permedia 3", "i740",          "Trident 9750",    "SiS 6326",
            "Virge DX",    "Mystique",   "Millennium II", "Verite 2200",     "PowerVR PCX2"};
        const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        for (long long i = stored; i < wanted; ++i) {
            RankSubmission s;
            std::int64_t sum = 0;
            // Within 20 % of a base of 20,000 to 38,000: no model's scores lie 3 times apart,
            // so none is held for review and every id is listed.
            const int base = 20000 + 2000 * static_cast<int>(i % 10);
            for (int k = rsCpu; k <= rsDisk; ++k)
                sum += s.scores[k] = base * score(random) / 100;
            s.scores[rsOverall] = static_cast<std::int32_t>(sum / 5);
            char cpu[64];
            std::snprintf(cpu, sizeof cpu, spellings[i / 7 % 3], families[i % 10],
                          166 + 33 * static_cast<int>(i / 10 % 26));
            s.text = {"計測者" + std::to_string(i),
                      cpu,
                      std::string(i % 2 ? "" : "NVIDIA Corporation ") + videos[i % 30],
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
