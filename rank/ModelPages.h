#pragma once
// The pages that compare: the models and their figures, the statistics of all entries, where
// an entry stands, and entries side by side; each as HTML and as JSON. Every text from a user
// or a model name is escaped where it is written.
#include "RankStats.h"
#include "RankStore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Entries a comparison takes, and entries a model's page lists.
inline constexpr int kCompareMost = 8;
inline constexpr int kModelPageEntries = 100;

enum class ModelOrder { Count, Median };

// An entry's fields as members of a JSON object (no braces): id, date, the texts as stored, the
// canonical models and the scores, as the pages' JSON and the open data write them.
std::string EntryFieldsJson(const RankEntry& entry);

// A model name in a path: every byte but letters, digits and "-._~" as %XX.
std::string PathEscape(std::string_view text);

std::string ModelsHtml(const RankSnapshot& snapshot, ModelOrder order);
std::string ModelsJson(const RankSnapshot& snapshot, ModelOrder order);

// A model's page: its figures beside all entries', its histograms and its entries.
std::string ModelHtml(ModelKind kind, const std::string& model, const RankSnapshot& snapshot,
                      const std::vector<RankEntry>& entries);
std::string ModelJson(ModelKind kind, const std::string& model, const RankSnapshot& snapshot,
                      const std::vector<RankEntry>& entries);

std::string StatsHtml(const RankSnapshot& snapshot);
std::string StatsJson(const RankSnapshot& snapshot);

// The entry page's part on where it stands: per test its percentile among all entries, its
// processor model and (DirectDraw, Direct3D) its video model, the histograms with its score
// marked, and the form that compares it with others.
std::string StandingHtml(const RankEntry& entry, const RankSnapshot& snapshot);
std::string EntryJson(const RankEntry& entry, std::int64_t rank, const RankSnapshot& snapshot);

// The ids of `/compare?ids=A,B,...`: 2 to kCompareMost decimal ids, separated by commas.
std::optional<std::vector<std::int64_t>> CompareIds(std::string_view text);
std::string CompareHtml(const std::vector<RankEntry>& entries);
std::string CompareJson(const std::vector<RankEntry>& entries);

// A histogram as SVG, with `mark` (a score) drawn over it when given.
std::string HistogramSvg(const Histogram& h, std::optional<std::int32_t> mark);
