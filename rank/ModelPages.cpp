#include "ModelPages.h"

#include "RankPages.h"
#include "Submission.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const char* kExtraStyle =
    "<style>td.r{color:#555}table.stats td{text-align:right}h2{font-size:16px;margin:18px 0 4px}"
    "svg.hist{background:#fff;border:1px solid #c8ccd8;margin:4px 12px 4px 0}"
    "div.hists{display:flex;flex-wrap:wrap}</style>\n";

// A figure with at most two decimals, without trailing zeros ("12", "12.5", "12.25").
std::string Number(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string ModelLink(ModelKind kind, const std::string& model) {
    return "<a href=\"/" + std::string(ModelKindPath(kind)) + "/" + PathEscape(model) + "\">" +
           HtmlEscape(model) + "</a>";
}

std::string SummaryJson(const ScoreSummary& s) {
    return "{\"count\":" + std::to_string(s.count) + ",\"median\":" + Number(s.median) +
           ",\"lower_quartile\":" + Number(s.lower) + ",\"upper_quartile\":" + Number(s.upper) +
           ",\"trimmed_mean\":" + Number(s.trimmedMean) + "}";
}

// Each test's summary of a group as a JSON object keyed by the tests' names.
std::string GroupJson(const ScoreGroup& group) {
    std::string json = "{";
    for (int i = 0; i < rsCount; ++i)
        json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] +
                "\":" + SummaryJson(Summarise(Ran(group.sorted[i])));
    return json + "}";
}

std::string ScoresJson(const std::int32_t (&scores)[rsCount]) {
    std::string json = "{";
    for (int i = 0; i < rsCount; ++i)
        json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] +
                "\":" + std::to_string(scores[i]);
    return json + "}";
}

double MedianOverall(const ScoreGroup& group) {
    return Summarise(Ran(group.sorted[rsOverall])).median;
}

// Models of one kind in the page's order: most entries, or highest median overall rating
// (models under the quorum last); then by name.
std::vector<std::pair<const std::string*, const ScoreGroup*>>
OrderedModels(const std::map<std::string, ScoreGroup>& models, ModelOrder order) {
    struct Row {
        const std::string* name;
        const ScoreGroup* group;
        double key;
    };
    std::vector<Row> rows;
    for (const auto& [name, group] : models)
        rows.push_back({&name, &group,
                        order == ModelOrder::Count         ? static_cast<double>(group.count)
                        : group.count >= kModelStatsQuorum ? MedianOverall(group)
                                                           : -1.0});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.key > b.key; });
    std::vector<std::pair<const std::string*, const ScoreGroup*>> ordered;
    for (const Row& r : rows)
        ordered.emplace_back(r.name, r.group);
    return ordered;
}

const char* KindLabel(ModelKind kind) {
    return kind == ModelKind::Cpu ? "CPU" : "ビデオカード";
}

// The figures of a group beside those of all entries, one row per test.
std::string FiguresTable(const ScoreGroup& group, const ScoreGroup& all) {
    std::string html = "<table class=\"stats\"><thead><tr><th>テスト</th><th>中央値</th><th>"
                       "四分位（25%〜75%）</th><th>トリム平均（中央80%）</th><th>全登録の中央値"
                       "</th><th>全登録の四分位</th><th>全登録のトリム平均</th></tr></thead>"
                       "<tbody>\n";
    for (int i = 0; i < rsCount; ++i) {
        const ScoreSummary mine = Summarise(Ran(group.sorted[i]));
        const ScoreSummary every = Summarise(Ran(all.sorted[i]));
        html += std::string("<tr><th>") + ScoreLabel(static_cast<RankScore>(i)) + "</th><td>" +
                Number(mine.median) + "</td><td>" + Number(mine.lower) + " 〜 " +
                Number(mine.upper) + "</td><td>" + Number(mine.trimmedMean) +
                "</td><td class=\"r\">" + Number(every.median) + "</td><td class=\"r\">" +
                Number(every.lower) + " 〜 " + Number(every.upper) + "</td><td class=\"r\">" +
                Number(every.trimmedMean) + "</td></tr>\n";
    }
    return html + "</tbody></table>\n";
}

std::string Histograms(const ScoreGroup& group, const RankEntry* marked) {
    std::string html = "<div class=\"hists\">";
    for (int i = 0; i < rsCount; ++i) {
        html +=
            std::string("<div><h2>") + ScoreLabel(static_cast<RankScore>(i)) + "</h2>" +
            HistogramSvg(group.histograms[i],
                         marked ? std::optional<std::int32_t>(marked->scores[i]) : std::nullopt) +
            "</div>";
    }
    return html + "</div>\n";
}

std::string EntryRows(const std::vector<RankEntry>& entries) {
    std::string html = "<table><thead><tr><th>名前</th>";
    for (int i = 0; i < rsCount; ++i)
        html += std::string("<th>") + ScoreLabel(static_cast<RankScore>(i)) + "</th>";
    html += "<th>CPU</th><th>VIDEO</th><th>登録日時</th></tr></thead><tbody>\n";
    for (const RankEntry& e : entries) {
        html += "<tr><td class=\"t\"><a href=\"/entry/" + std::to_string(e.id) + "\">" +
                HtmlEscape(e.text.name) + "</a></td>";
        for (int i = 0; i < rsCount; ++i)
            html += "<td class=\"n\">" + std::to_string(e.scores[i]) + "</td>";
        html += "<td class=\"t\">" + HtmlEscape(e.text.cpu) + "</td><td class=\"t\">" +
                HtmlEscape(e.text.video) + "</td><td>" + LocalTime(e.createdAt) + "</td></tr>\n";
    }
    return html + "</tbody></table>\n";
}

std::string Nav() {
    return "<nav><a href=\"/\">ランキング</a><a href=\"/models\">機種一覧</a><a "
           "href=\"/stats\">分布</a></nav>\n";
}

} // namespace

std::string EntryFieldsJson(const RankEntry& e) {
    return "\"id\":" + std::to_string(e.id) + ",\"date\":\"" + UtcTime(e.createdAt) +
           "\",\"name\":\"" + JsonEscape(e.text.name) + "\",\"cpu\":\"" + JsonEscape(e.text.cpu) +
           "\",\"video\":\"" + JsonEscape(e.text.video) + "\",\"memory\":\"" +
           JsonEscape(e.text.memory) + "\",\"hdd\":\"" + JsonEscape(e.text.hdd) +
           "\",\"comment\":\"" + JsonEscape(e.text.comment) + "\",\"cpu_model\":\"" +
           JsonEscape(e.cpuModel) + "\",\"video_model\":\"" + JsonEscape(e.videoModel) +
           "\",\"scores\":" + ScoresJson(e.scores);
}

std::string PathEscape(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string HistogramSvg(const Histogram& h, std::optional<std::int32_t> mark) {
    const int width = 360, height = 150, left = 8, bottom = 24, top = 8;
    // The bins from the lowest to the highest score, widened to take in the mark.
    int first = h.firstBin, last = h.firstBin + static_cast<int>(h.counts.size()) - 1;
    if (h.counts.empty())
        first = last = mark && *mark > 0 ? BinOf(*mark) : 0;
    if (mark && *mark > 0) {
        first = std::min(first, BinOf(*mark));
        last = std::max(last, BinOf(*mark));
    }
    const int bins = last - first + 1;
    std::int64_t most = 1;
    for (const std::int64_t c : h.counts)
        most = std::max(most, c);
    const double binWidth = static_cast<double>(width - 2 * left) / bins;
    std::string svg = "<svg class=\"hist\" width=\"" + std::to_string(width) + "\" height=\"" +
                      std::to_string(height) +
                      "\" role=\"img\" font-size=\"10\" font-family=\"IPAPGothic,sans-serif\">";
    for (int b = first; b <= last; ++b) {
        const std::size_t index = static_cast<std::size_t>(b - h.firstBin);
        const std::int64_t count = b >= h.firstBin && index < h.counts.size() ? h.counts[index] : 0;
        const int barHeight =
            static_cast<int>(static_cast<double>(height - bottom - top) * count / most + 0.5);
        const double x = left + (b - first) * binWidth;
        char rect[160];
        std::snprintf(rect, sizeof rect,
                      "<rect x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"#8a93ad\">",
                      x + 1, height - bottom - barHeight, std::max(binWidth - 2, 1.0), barHeight);
        svg += rect;
        svg += "<title>" + Number(BinFloor(b)) + " 〜 " + Number(BinFloor(b + 1)) + "：" +
               std::to_string(count) + " 件</title></rect>";
        // Under the axis each bin's lower end while there are few, the powers of ten otherwise.
        if (bins <= 6 || b % kBinsPerDecade == 0) {
            const double floor = BinFloor(b);
            char value[32], label[96];
            std::snprintf(value, sizeof value, floor >= 100 ? "%.0f" : "%.3g", floor);
            std::snprintf(label, sizeof label, "<text x=\"%.1f\" y=\"%d\">%s</text>", x, height - 8,
                          value);
            svg += label;
        }
    }
    if (mark && *mark > 0) {
        // The mark's place inside its bin, on the logarithmic scale.
        const double position =
            (static_cast<double>(kBinsPerDecade) * std::log10(static_cast<double>(*mark)) - first) *
            binWidth;
        char line[200];
        std::snprintf(line, sizeof line,
                      "<line class=\"mark\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\" "
                      "stroke=\"#d0202a\" stroke-width=\"2\"/>",
                      left + position, left + position, top, height - bottom);
        svg += line;
    }
    if (h.nonPositive > 0)
        svg += "<text x=\"" + std::to_string(width - 90) + "\" y=\"" + std::to_string(top + 10) +
               "\">0 点：" + std::to_string(h.nonPositive) + " 件</text>";
    return svg + "</svg>";
}

std::string ModelsHtml(const RankSnapshot& snapshot, ModelOrder order) {
    std::string html = PageHead("ゼルカ ランキング：機種一覧") + kExtraStyle;
    html += "<h1><span>ゼルカ</span> 機種一覧</h1>\n" + Nav() + "<p class=\"meta\">並び順：" +
            (order == ModelOrder::Count ? "<b>登録数</b>　<a href=\"/models?sort=median\">総合評価"
                                          "の中央値</a>"
                                        : "<a href=\"/models?sort=count\">登録数</a>　<b>総合評価"
                                          "の中央値</b>") +
            "　<a href=\"/models.json" + (order == ModelOrder::Median ? "?sort=median" : "") +
            "\">JSON</a></p>\n";
    for (const ModelKind kind : {ModelKind::Cpu, ModelKind::Video}) {
        html += std::string("<h2>") + KindLabel(kind) +
                "</h2>\n<table><thead><tr><th>機種</th><th>登録数</th><th>総合評価の中央値</th>"
                "</tr></thead><tbody>\n";
        for (const auto& [name, group] : OrderedModels(snapshot.Models(kind), order))
            html += "<tr><td class=\"t\">" + ModelLink(kind, *name) + "</td><td class=\"n\">" +
                    std::to_string(group->count) + "</td><td class=\"n\">" +
                    (group->count >= kModelStatsQuorum ? Number(MedianOverall(*group)) : "—") +
                    "</td></tr>\n";
        html += "</tbody></table>\n";
    }
    return html + "</body></html>\n";
}

std::string ModelsJson(const RankSnapshot& snapshot, ModelOrder order) {
    std::string json =
        std::string("{\"sort\":\"") + (order == ModelOrder::Count ? "count" : "median") + "\"";
    for (const ModelKind kind : {ModelKind::Cpu, ModelKind::Video}) {
        json += std::string(",\"") + ModelKindPath(kind) + "\":[";
        bool first = true;
        for (const auto& [name, group] : OrderedModels(snapshot.Models(kind), order)) {
            json += std::string(first ? "\n" : ",\n") + "{\"model\":\"" + JsonEscape(*name) +
                    "\",\"count\":" + std::to_string(group->count) + ",\"median_overall\":" +
                    (group->count >= kModelStatsQuorum ? Number(MedianOverall(*group)) : "null") +
                    "}";
            first = false;
        }
        json += "]";
    }
    return json + "}\n";
}

std::string ModelHtml(ModelKind kind, const std::string& model, const RankSnapshot& snapshot,
                      const std::vector<RankEntry>& entries) {
    const ScoreGroup* group = snapshot.Model(kind, model);
    const std::int64_t count = group ? group->count : 0;
    std::string html =
        PageHead(std::string("ゼルカ ランキング：") + KindLabel(kind) + " " + model) + kExtraStyle;
    html += std::string("<h1><span>ゼルカ</span> ") + KindLabel(kind) + "：" + HtmlEscape(model) +
            "</h1>\n" + Nav() + "<p class=\"meta\">登録数 " + std::to_string(count) +
            " 件（全登録 " + std::to_string(snapshot.all.count) + " 件）　<a href=\"/" +
            ModelKindPath(kind) + "/" + PathEscape(model) + ".json\">JSON</a></p>\n";
    if (group && count >= kModelStatsQuorum) {
        html += FiguresTable(*group, snapshot.all);
        html += "<h2>スコアの分布（対数目盛）</h2>\n" + Histograms(*group, nullptr);
    } else {
        html += "<p id=\"few\">登録が " + std::to_string(kModelStatsQuorum) +
                " 件に満たないため、統計は表示しません。</p>\n";
    }
    html += "<h2>この機種の登録</h2>\n" + EntryRows(entries);
    if (count > static_cast<std::int64_t>(entries.size()))
        html += "<p class=\"meta\">総合評価の上位 " + std::to_string(entries.size()) +
                " 件を表示しています。</p>\n";
    return html + "</body></html>\n";
}

std::string ModelJson(ModelKind kind, const std::string& model, const RankSnapshot& snapshot,
                      const std::vector<RankEntry>& entries) {
    const ScoreGroup* group = snapshot.Model(kind, model);
    const std::int64_t count = group ? group->count : 0;
    std::string json = std::string("{\"kind\":\"") + ModelKindPath(kind) + "\",\"model\":\"" +
                       JsonEscape(model) + "\",\"count\":" + std::to_string(count) + ",\"stats\":" +
                       (group && count >= kModelStatsQuorum ? GroupJson(*group) : "null") +
                       ",\"all\":" + GroupJson(snapshot.all) + ",\"entries\":[";
    for (std::size_t i = 0; i < entries.size(); ++i)
        json += std::string(i ? ",\n" : "\n") + "{" + EntryFieldsJson(entries[i]) + "}";
    return json + "]}\n";
}

std::string StatsHtml(const RankSnapshot& snapshot) {
    std::string html = PageHead("ゼルカ ランキング：スコアの分布") + kExtraStyle;
    html += "<h1><span>ゼルカ</span> スコアの分布</h1>\n" + Nav() + "<p class=\"meta\">登録数 " +
            std::to_string(snapshot.all.count) +
            " 件　<a href=\"/stats.json\">JSON</a>　<a href=\"/data/README\">オープンデータ</a></p>"
            "\n<table class=\"stats\"><thead><tr><th>テスト</th><th>中央値</th><th>四分位（25%〜"
            "75%）</th><th>トリム平均（中央80%）</th></tr></thead><tbody>\n";
    for (int i = 0; i < rsCount; ++i) {
        const ScoreSummary s = Summarise(Ran(snapshot.all.sorted[i]));
        html += std::string("<tr><th>") + ScoreLabel(static_cast<RankScore>(i)) + "</th><td>" +
                Number(s.median) + "</td><td>" + Number(s.lower) + " 〜 " + Number(s.upper) +
                "</td><td>" + Number(s.trimmedMean) + "</td></tr>\n";
    }
    html += "</tbody></table>\n<h2>ヒストグラム（対数目盛、1 けたを 4 区間）</h2>\n" +
            Histograms(snapshot.all, nullptr);
    return html + "</body></html>\n";
}

std::string StatsJson(const RankSnapshot& snapshot) {
    std::string json = "{\"count\":" + std::to_string(snapshot.all.count) +
                       ",\"stats\":" + GroupJson(snapshot.all) +
                       ",\"bins_per_decade\":" + std::to_string(kBinsPerDecade) +
                       ",\"histograms\":{";
    for (int i = 0; i < rsCount; ++i) {
        const Histogram& h = snapshot.all.histograms[i];
        json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] +
                "\":{\"zero_or_less\":" + std::to_string(h.nonPositive) + ",\"bins\":[";
        for (std::size_t b = 0; b < h.counts.size(); ++b) {
            const int bin = h.firstBin + static_cast<int>(b);
            json += std::string(b ? "," : "") + "{\"from\":" + Number(BinFloor(bin)) +
                    ",\"to\":" + Number(BinFloor(bin + 1)) +
                    ",\"count\":" + std::to_string(h.counts[b]) + "}";
        }
        json += "]}";
    }
    return json + "}}\n";
}

namespace {

// An entry's standing in one test: the group's size and the percentile, for the groups that
// apply (all, its processor model, its video model for the two graphics tests).
struct Standing {
    const char* group;
    const ScoreGroup* scores;
    std::string model;
    ModelKind kind;
};

std::vector<Standing> StandingsOf(const RankEntry& e, const RankSnapshot& snapshot, int test) {
    // A test the entry did not run has no standing.
    if (e.scores[test] <= 0)
        return {};
    std::vector<Standing> s{{"all", &snapshot.all, {}, ModelKind::Cpu}};
    if (const ScoreGroup* cpu =
            e.cpuModel.empty() ? nullptr : snapshot.Model(ModelKind::Cpu, e.cpuModel))
        s.push_back({"cpu_model", cpu, e.cpuModel, ModelKind::Cpu});
    if (test == rsDDraw || test == rsD3D)
        if (const ScoreGroup* video =
                e.videoModel.empty() ? nullptr : snapshot.Model(ModelKind::Video, e.videoModel))
            s.push_back({"video_model", video, e.videoModel, ModelKind::Video});
    return s;
}

} // namespace

std::string StandingHtml(const RankEntry& e, const RankSnapshot& snapshot) {
    std::string html = kExtraStyle;
    html += "<h2>この登録の位置（パーセンタイル：下位からの割合）</h2>\n<table class=\"stats\" "
            "id=\"standing\"><thead><tr><th>テスト</th><th>スコア</th><th>全登録</th><th>同じ "
            "CPU</th><th>同じビデオカード</th></tr></thead><tbody>\n";
    for (int i = 0; i < rsCount; ++i) {
        std::string cells[3];
        for (const Standing& s : StandingsOf(e, snapshot, i)) {
            const auto ran = Ran(s.scores->sorted[i]);
            const std::string text = Number(PercentileOf(ran, e.scores[i])) + "%（" +
                                     std::to_string(ran.size()) + " 件中）";
            const int column = s.model.empty() ? 0 : s.kind == ModelKind::Cpu ? 1 : 2;
            cells[column] = text;
        }
        html += std::string("<tr><th>") + ScoreLabel(static_cast<RankScore>(i)) + "</th><td>" +
                std::to_string(e.scores[i]) + "</td>";
        for (const std::string& cell : cells)
            html += "<td>" + (cell.empty() ? "—" : cell) + "</td>";
        html += "</tr>\n";
    }
    html += "</tbody></table>\n<p class=\"meta\">";
    if (!e.cpuModel.empty())
        html += "CPU の機種：" + ModelLink(ModelKind::Cpu, e.cpuModel) + "　";
    if (!e.videoModel.empty())
        html += "ビデオカードの機種：" + ModelLink(ModelKind::Video, e.videoModel);
    html += "</p>\n<h2>全登録の分布とこの登録（赤線）</h2>\n" + Histograms(snapshot.all, &e);
    html += "<h2>ほかの登録と比べる</h2>\n<form method=\"get\" action=\"/compare\">"
            "<label>登録番号（コンマ区切り、最大 " +
            std::to_string(kCompareMost) +
            " 件）：<input type=\"text\" name=\"ids\" size=\"40\" value=\"" + std::to_string(e.id) +
            ",\"></label> <input type=\"submit\" id=\"compare\" value=\"比べる\"></form>\n";
    return html;
}

std::string EntryJson(const RankEntry& e, std::int64_t rank, const RankSnapshot& snapshot) {
    std::string json =
        "{" + EntryFieldsJson(e) + ",\"rank\":" + std::to_string(rank) + ",\"percentiles\":{";
    for (int i = 0; i < rsCount; ++i) {
        json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] + "\":{";
        bool first = true;
        for (const Standing& s : StandingsOf(e, snapshot, i)) {
            const auto ran = Ran(s.scores->sorted[i]);
            json += std::string(first ? "" : ",") + "\"" + s.group +
                    "\":{\"percentile\":" + Number(PercentileOf(ran, e.scores[i])) +
                    ",\"count\":" + std::to_string(ran.size()) + "}";
            first = false;
        }
        json += "}";
    }
    return json + "}}\n";
}

std::optional<std::vector<std::int64_t>> CompareIds(std::string_view text) {
    std::vector<std::int64_t> ids;
    while (ids.size() <= static_cast<std::size_t>(kCompareMost)) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        // A trailing comma, as the entry page's form leaves it, ends the list.
        if (item.empty() && comma == std::string_view::npos && !ids.empty())
            break;
        const auto id = ParseDecimal(item, 1, 999'999'999'999'999'999);
        if (!id)
            return std::nullopt;
        ids.push_back(*id);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (ids.size() < 2 || ids.size() > static_cast<std::size_t>(kCompareMost))
        return std::nullopt;
    return ids;
}

namespace {

// A score as a ratio to the first entry's ("×1.25"); none where the first scored 0.
std::optional<double> Ratio(std::int32_t score, std::int32_t first) {
    if (first <= 0)
        return std::nullopt;
    return static_cast<double>(score) / first;
}

} // namespace

std::string CompareHtml(const std::vector<RankEntry>& entries) {
    std::string html = PageHead("ゼルカ ランキング：比較") + kExtraStyle;
    html += "<h1><span>ゼルカ</span> 登録の比較</h1>\n" + Nav() +
            "<p class=\"meta\">比は 1 列目の登録に対する倍率です。</p>\n<table "
            "id=\"comparison\"><thead><tr><th></th>";
    for (const RankEntry& e : entries)
        html += "<th><a href=\"/entry/" + std::to_string(e.id) + "\">" + HtmlEscape(e.text.name) +
                "</a></th>";
    html += "</tr></thead><tbody>\n";
    for (int i = 0; i < rsCount; ++i) {
        html += std::string("<tr><th>") + ScoreLabel(static_cast<RankScore>(i)) + "</th>";
        for (const RankEntry& e : entries) {
            const auto ratio = Ratio(e.scores[i], entries.front().scores[i]);
            html += "<td class=\"n\">" + std::to_string(e.scores[i]) + " <span class=\"r\">×" +
                    (ratio ? Number(*ratio) : std::string("—")) + "</span></td>";
        }
        html += "</tr>\n";
    }
    const std::pair<const char*, std::string RankUserText::*> texts[] = {
        {"CPU", &RankUserText::cpu},
        {"VIDEO", &RankUserText::video},
        {"MEMORY", &RankUserText::memory},
        {"HDD", &RankUserText::hdd},
        {"コメント", &RankUserText::comment}};
    for (const auto& [label, field] : texts) {
        html += std::string("<tr><th>") + label + "</th>";
        for (const RankEntry& e : entries)
            html += "<td class=\"c\">" + HtmlEscape(e.text.*field) + "</td>";
        html += "</tr>\n";
    }
    html += "<tr><th>登録日時</th>";
    for (const RankEntry& e : entries)
        html += "<td>" + LocalTime(e.createdAt) + "</td>";
    return html + "</tr>\n</tbody></table>\n</body></html>\n";
}

std::string CompareJson(const std::vector<RankEntry>& entries) {
    std::string json = "{\"entries\":[";
    for (std::size_t n = 0; n < entries.size(); ++n) {
        const RankEntry& e = entries[n];
        json += std::string(n ? ",\n" : "\n") + "{" + EntryFieldsJson(e) + ",\"ratios\":{";
        for (int i = 0; i < rsCount; ++i) {
            const auto ratio = Ratio(e.scores[i], entries.front().scores[i]);
            json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] +
                    "\":" + (ratio ? Number(*ratio) : "null");
        }
        json += "}}";
    }
    return json + "]}\n";
}
