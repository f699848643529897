// Reading the boss picture from a packed archive in memory: the cost of one bitmap load
// from "Zelka.dat" without the file system.
#include "Headline.h"
#include "engine/DArc.h"
#include "tools/ArchivePacker.h"
#include "tools/SceneArt.h"

#include <benchmark/benchmark.h>

namespace {

void BM_ReadPackedBoss(benchmark::State& state) {
    const std::vector<std::uint8_t> boss = DrawBoss().EncodeBmp();
    TMemoryStream archive(BuildArchive({{"samp4.bmp", {1, 2, 3}}, {"boss2.bmp", boss}}, true));
    for (auto _ : state) {
        std::unique_ptr<TMemoryStream> entry = ReadArchiveEntry(archive, "boss2.bmp");
        benchmark::DoNotOptimize(entry->Memory());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(boss.size()));
    state.counters["expanded_mb_per_s"] = benchmark::Counter(
        static_cast<double>(boss.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ReadPackedBoss)->Unit(benchmark::kMicrosecond);
static bench::RegisterHeadline reg("BM_ReadPackedBoss",
                                   {"archive.expand_mb_per_s", bench::Figure::Counter,
                                    "expanded_mb_per_s"});

} // namespace
