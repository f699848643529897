#include "RankStats.h"

#include <QSqlQuery>
#include <algorithm>
#include <cmath>

namespace {

// The value at position (n - 1) × p of ascending `sorted`, interpolated between neighbours.
double Quantile(std::span<const std::int32_t> sorted, double p) {
    const double position = static_cast<double>(sorted.size() - 1) * p;
    const auto below = static_cast<std::size_t>(std::floor(position));
    const double fraction = position - static_cast<double>(below);
    const double low = sorted[below];
    if (below + 1 >= sorted.size() || fraction == 0)
        return low;
    return low + fraction * (static_cast<double>(sorted[below + 1]) - low);
}

} // namespace

ScoreSummary Summarise(std::span<const std::int32_t> sorted) {
    ScoreSummary s;
    s.count = static_cast<std::int64_t>(sorted.size());
    if (sorted.empty())
        return s;
    s.median = Quantile(sorted, 0.5);
    s.lower = Quantile(sorted, 0.25);
    s.upper = Quantile(sorted, 0.75);
    const std::size_t cut = sorted.size() / 10;
    double sum = 0;
    for (std::size_t i = cut; i < sorted.size() - cut; ++i)
        sum += sorted[i];
    s.trimmedMean = sum / static_cast<double>(sorted.size() - 2 * cut);
    return s;
}

std::span<const std::int32_t> Ran(std::span<const std::int32_t> sorted) {
    return sorted.subspan(static_cast<std::size_t>(
        std::upper_bound(sorted.begin(), sorted.end(), 0) - sorted.begin()));
}

double PercentileOf(std::span<const std::int32_t> sorted, std::int32_t score) {
    if (sorted.empty())
        return 0;
    const auto [first, last] = std::equal_range(sorted.begin(), sorted.end(), score);
    const double below = static_cast<double>(first - sorted.begin());
    const double equal = static_cast<double>(last - first);
    return 100.0 * (below + equal / 2) / static_cast<double>(sorted.size());
}

double BinFloor(int bin) {
    return std::pow(10.0, static_cast<double>(bin) / kBinsPerDecade);
}

int BinOf(std::int32_t score) {
    int bin = static_cast<int>(std::floor(kBinsPerDecade * std::log10(static_cast<double>(score))));
    // The logarithm may land a hair off an exact power of ten.
    while (BinFloor(bin + 1) <= score)
        ++bin;
    while (bin > 0 && BinFloor(bin) > score)
        --bin;
    return bin;
}

Histogram HistogramOf(std::span<const std::int32_t> sorted) {
    Histogram h;
    const auto positive = std::upper_bound(sorted.begin(), sorted.end(), 0);
    h.nonPositive = positive - sorted.begin();
    if (positive == sorted.end())
        return h;
    h.firstBin = BinOf(*positive);
    const int last = BinOf(sorted.back());
    // The scores are sorted: each bin's end is found by bisection, not by a look at each score.
    auto from = positive;
    for (int bin = h.firstBin; bin <= last; ++bin) {
        const auto to = std::partition_point(from, sorted.end(),
                                             [bin](std::int32_t s) { return BinOf(s) <= bin; });
        h.counts.push_back(to - from);
        from = to;
    }
    return h;
}

const char* ModelKindPath(ModelKind kind) {
    return kind == ModelKind::Cpu ? "cpu" : "video";
}

const ScoreGroup* RankSnapshot::Model(ModelKind kind, const std::string& name) const {
    const auto& models = Models(kind);
    const auto it = models.find(name);
    return it == models.end() ? nullptr : &it->second;
}

void RankSnapshotBuilder::Add(const std::int32_t (&scores)[rsCount], const std::string& cpuModel,
                              const std::string& videoModel) {
    auto add = [&scores](ScoreGroup& group) {
        ++group.count;
        for (int i = 0; i < rsCount; ++i)
            group.sorted[i].push_back(scores[i]);
    };
    add(snapshot_->all);
    if (!cpuModel.empty())
        add(snapshot_->cpus[cpuModel]);
    if (!videoModel.empty())
        add(snapshot_->videos[videoModel]);
}

std::shared_ptr<const RankSnapshot> RankSnapshotBuilder::Finish() {
    auto sortGroup = [](ScoreGroup& group) {
        for (auto& scores : group.sorted) {
            std::sort(scores.begin(), scores.end());
            scores.shrink_to_fit();
        }
        for (int i = 0; i < rsCount; ++i)
            group.histograms[i] = HistogramOf(group.sorted[i]);
    };
    sortGroup(snapshot_->all);
    for (auto* models : {&snapshot_->cpus, &snapshot_->videos})
        for (auto& [name, group] : *models)
            sortGroup(group);
    return std::exchange(snapshot_, std::make_shared<RankSnapshot>());
}

std::shared_ptr<const RankSnapshot> RankStatistics::Current() {
    using namespace std::chrono_literals;
    std::unique_lock<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t changes = store_.Changes();
    for (;;) {
        const bool small = !snapshot_ || snapshot_->all.count < 1000;
        if (snapshot_ &&
            (changes_ == changes ? now - taken_ < 2s : (!small && now - taken_ < 250ms)))
            return snapshot_;
        if (!building_)
            break;
        // Another thread reads the entries: a large ranking's requests take the snapshot they
        // have meanwhile, rather than each waiting.
        if (!small)
            return snapshot_;
        built_.wait(lock);
    }
    building_ = true;
    lock.unlock();
    std::shared_ptr<const RankSnapshot> snapshot;
    try {
        snapshot = Read();
    } catch (...) {
        lock.lock();
        building_ = false;
        built_.notify_all();
        throw;
    }
    lock.lock();
    snapshot_ = std::move(snapshot);
    changes_ = changes;
    taken_ = now;
    building_ = false;
    built_.notify_all();
    return snapshot_;
}

std::shared_ptr<const RankSnapshot> RankStatistics::Read() {
    RankSnapshotBuilder builder;
    std::string names[2];
    std::int32_t scores[rsCount];
    std::string columns;
    for (const char* name : kRankScoreNames)
        columns += std::string(name) + ", ";
    store_.Select("SELECT " + columns + "cpu_model, video_model FROM entries WHERE state = 0", {},
                  [&](const QSqlQuery& q) {
                      for (int i = 0; i < rsCount; ++i)
                          scores[i] = q.value(i).toInt();
                      names[0] = q.value(rsCount).toString().toStdString();
                      names[1] = q.value(rsCount + 1).toString().toStdString();
                      builder.Add(scores, names[0], names[1]);
                  });
    return builder.Finish();
}
