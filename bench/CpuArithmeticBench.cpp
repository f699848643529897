// The cost of one iteration of the CPU arithmetic test, the unit its score counts.
#include "Headline.h"
#include "app/CpuArithmetic.h"

#include <benchmark/benchmark.h>

static void BM_CpuArithmeticIteration(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(CpuArithmeticIteration());
    state.counters["iterations_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CpuArithmeticIteration);

static bench::RegisterHeadline cpuIteration("BM_CpuArithmeticIteration",
                                            {"cpu.iteration_ns",
                                             bench::Figure::NanosecondsPerIteration, ""});
static bench::RegisterHeadline cpuScore("BM_CpuArithmeticIteration",
                                        {"cpu.score_estimate", bench::Figure::Counter,
                                         "iterations_per_s"});
