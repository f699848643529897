#pragma once
// Statistics of the listed entries, overall and per processor and video model: the figures
// (median, quartiles, trimmed mean, percentiles, log-scaled histograms) and the snapshot of
// every listed entry's scores they are taken from, kept in memory and taken again after a
// change.
#include "RankStore.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// A group of scores summed up. Quartiles and median interpolate linearly between the two
// nearest of the sorted scores (position (n - 1) × p); the trimmed mean leaves out the lowest
// and the highest tenth (n / 10 each, rounded down) and averages the middle 80 %.
struct ScoreSummary {
    std::int64_t count = 0;
    double median = 0, lower = 0, upper = 0, trimmedMean = 0;
};
ScoreSummary Summarise(std::span<const std::int32_t> sorted);

// The scores of entries that ran the test (above 0) of ascending `sorted`: the figures and
// percentiles are taken over these.
std::span<const std::int32_t> Ran(std::span<const std::int32_t> sorted);

// The percentile rank of `score` in ascending `sorted`: the share of the group scoring below
// it plus half the share scoring the same, in percent (0 for an empty group).
double PercentileOf(std::span<const std::int32_t> sorted, std::int32_t score);

// Log-scaled bins: bin b holds the scores in [10^(b/4), 10^((b+1)/4)); scores of 0 or less
// are counted apart.
inline constexpr int kBinsPerDecade = 4;
int BinOf(std::int32_t score); // score > 0
double BinFloor(int bin);
struct Histogram {
    int firstBin = 0;                 // the bin of counts[0]
    std::vector<std::int64_t> counts; // from the lowest to the highest bin with a score
    std::int64_t nonPositive = 0;     // scores of 0 or less
};
Histogram HistogramOf(std::span<const std::int32_t> sorted);

// A model shows figures once it has this many listed entries.
inline constexpr std::int64_t kModelStatsQuorum = 3;

// Scores of a group of entries, each test's sorted ascending, and their histograms.
struct ScoreGroup {
    std::int64_t count = 0;
    std::array<std::vector<std::int32_t>, rsCount> sorted;
    std::array<Histogram, rsCount> histograms;
};

enum class ModelKind { Cpu, Video };
const char* ModelKindPath(ModelKind kind); // "cpu", "video"

// Every listed entry's scores by group, as read at one moment.
struct RankSnapshot {
    ScoreGroup all;
    std::map<std::string, ScoreGroup> cpus, videos; // by canonical model, named ones only
    const std::map<std::string, ScoreGroup>& Models(ModelKind kind) const {
        return kind == ModelKind::Cpu ? cpus : videos;
    }
    const ScoreGroup* Model(ModelKind kind, const std::string& name) const;
};

// Builds a snapshot from (overall, cpu, gdi, ddraw, d3d, disk, cpu model, video model) rows.
class RankSnapshotBuilder {
public:
    void Add(const std::int32_t (&scores)[rsCount], const std::string& cpuModel,
             const std::string& videoModel);
    std::shared_ptr<const RankSnapshot> Finish();

private:
    std::shared_ptr<RankSnapshot> snapshot_ = std::make_shared<RankSnapshot>();
};

// The snapshot of the store's listed entries: taken again after this process changes an entry
// (at most four times a second once the ranking is large) or after a moment for other
// servers' changes, never per request. One thread reads at a time; once the ranking is large
// the others keep answering from the snapshot before.
class RankStatistics {
public:
    explicit RankStatistics(RankStore& store) : store_(store) {}
    std::shared_ptr<const RankSnapshot> Current();

private:
    std::shared_ptr<const RankSnapshot> Read();

    RankStore& store_;
    std::mutex mutex_;
    std::condition_variable built_;
    bool building_ = false;
    std::shared_ptr<const RankSnapshot> snapshot_;
    std::uint64_t changes_ = ~std::uint64_t{0};
    std::chrono::steady_clock::time_point taken_;
};
