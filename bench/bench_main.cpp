// Runs every benchmark, then prints one "name: value" line per headline figure.
#include "Headline.h"
#include "gpu/Renderer.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

class HeadlineReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            const auto [first, last] = bench::Headlines().equal_range(run.benchmark_name());
            for (auto it = first; it != last; ++it) {
                const bench::Headline& h = it->second;
                double value = run.GetAdjustedRealTime();
                if (h.kind == bench::Figure::Counter) {
                    const auto counter = run.counters.find(h.counter);
                    if (counter == run.counters.end())
                        continue;
                    value = counter->second.value;
                }
                figures_[h.figure] = value;
            }
        }
    }

    void PrintSummary() const {
        for (const auto& [name, value] : figures_)
            std::printf("%s: %.6g\n", name.c_str(), value);
    }

private:
    std::map<std::string, double> figures_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // The software layer's figures are the software layer's on every machine; the GPU's
    // benchmark chooses its road itself.
    gpu::SetRendererChoice(gpu::RendererChoice::Software);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    HeadlineReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintSummary();
    return 0;
}
