#include "RankPages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

const char* kStyle =
    "<style>"
    "body{font-family:'IPAPGothic','IPAGothic',sans-serif;background:#f4f5f8;color:#1c2340;"
    "margin:0;padding:16px 24px}"
    "h1{font-size:22px;margin:0 0 4px}h1 span{color:#d0202a}"
    "p.meta{margin:4px 0 12px;color:#555}"
    "table{border-collapse:collapse;background:#fff;font-size:12px;margin-top:12px}"
    "th,td{border:1px solid #c8ccd8;padding:3px 5px;white-space:nowrap}th{white-space:normal}"
    "th{background:#1c2340;color:#fff}th a{color:#fff}th.sorted{background:#d0202a}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.t{max-width:140px;overflow:hidden;text-overflow:ellipsis}"
    "td.c{white-space:normal;min-width:120px;max-width:240px;overflow-wrap:anywhere}"
    "svg.bar{vertical-align:middle;margin-left:4px}table+p{margin-top:12px}"
    "nav{margin:12px 0}nav a,nav b{margin-right:8px}"
    ".box{background:#fff;border:1px solid #c8ccd8;padding:12px;display:inline-block}"
    "</style>";

std::string Head(std::string_view title) {
    return std::string("<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>") +
           HtmlEscape(title) + "</title>" + kStyle + "</head><body>\n";
}

// A time as text: its fields broken down by `convert` (gmtime_r or localtime_r), written by
// the strftime `format`.
std::string TimeText(std::int64_t seconds, std::tm* (*convert)(const std::time_t*, std::tm*),
                     const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    convert(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::int64_t PageCount(std::int64_t total) {
    return std::max<std::int64_t>(1, (total + kRankPageSize - 1) / kRankPageSize);
}

std::string RankingLink(RankScore order, std::int64_t page) {
    std::string link = std::string("/?sort=") + kRankScoreNames[order];
    if (page > 1)
        link += "&amp;page=" + std::to_string(page);
    return link;
}

// The score's bar against the best in the column, 120 px for the best.
std::string Bar(std::int32_t score, std::int32_t top) {
    const int width = top > 0 ? static_cast<int>(120.0 * std::max(score, 0) / top + 0.5) : 0;
    return "<svg class=\"bar\" width=\"120\" height=\"10\" role=\"img\"><rect width=\"120\" "
           "height=\"10\" fill=\"#e3e6ee\"/><rect width=\"" +
           std::to_string(width) + "\" height=\"10\" fill=\"#d0202a\"/></svg>";
}

} // namespace

std::string PageHead(std::string_view title) {
    return Head(title);
}

std::string UtcTime(std::int64_t seconds) {
    return TimeText(seconds, gmtime_r, "%Y-%m-%dT%H:%M:%SZ");
}

std::string LocalTime(std::int64_t seconds) {
    return TimeText(seconds, localtime_r, "%Y-%m-%d %H:%M");
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
            // The markup characters too, so the JSON can never close a script element.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

const char* ScoreLabel(RankScore score) {
    static const char* const labels[rsCount] = {"総合評価",         "CPU性能",
                                                "グラフィック性能", "DirectDraw性能",
                                                "Direct3D性能",     "ハードディスク性能"};
    return labels[score];
}

std::string RankingHtml(const RankingSlice& slice, RankScore order, std::int64_t page) {
    std::string html = Head("ゼルカ ランキング");
    html += "<h1><span>ゼルカ</span> インターネット・計測値・ランキング</h1>\n<p "
            "class=\"meta\">登録数 " +
            std::to_string(slice.total) + " 件　並び順：" + ScoreLabel(order) + "　" +
            std::to_string(page) + " / " + std::to_string(PageCount(slice.total)) +
            " ページ　<a href=\"/ranking.json?sort=" + kRankScoreNames[order] +
            "\">JSON</a></p>\n<table>\n<thead><tr><th>順位</th><th>名前</th>";
    for (int i = 0; i < rsCount; ++i) {
        const auto score = static_cast<RankScore>(i);
        html += score == order ? "<th class=\"sorted\">" : "<th>";
        html += "<a href=\"" + RankingLink(score, 1) + "\">" + ScoreLabel(score) + "</a></th>";
    }
    html +=
        "<th>CPU</th><th>VIDEO</th><th>MEMORY</th><th>HDD</th><th>コメント</th><th>登録日時</th>"
        "</tr></thead>\n<tbody>\n";
    for (const RankedEntry& row : slice.rows) {
        const RankEntry& e = row.entry;
        html += "<tr><td class=\"n\">" + std::to_string(row.rank) +
                "</td><td class=\"t\"><a href=\"/entry/" + std::to_string(e.id) + "\">" +
                HtmlEscape(e.text.name) + "</a></td>";
        for (int i = 0; i < rsCount; ++i) {
            html += "<td class=\"n\">" + std::to_string(e.scores[i]);
            if (i == order)
                html += Bar(e.scores[i], slice.top);
            html += "</td>";
        }
        for (const std::string* text : {&e.text.cpu, &e.text.video, &e.text.memory, &e.text.hdd})
            html += "<td class=\"t\">" + HtmlEscape(*text) + "</td>";
        html += "<td class=\"c\">" + HtmlEscape(e.text.comment) + "</td><td>" +
                LocalTime(e.createdAt) + "</td></tr>\n";
    }
    html += "</tbody></table>\n";
    if (slice.rows.empty())
        html += "<p>まだ登録はありません。</p>\n";
    const std::int64_t pages = PageCount(slice.total);
    html += "<nav>";
    if (page > 1)
        html += "<a href=\"" + RankingLink(order, page - 1) + "\">前へ</a>";
    // The first, the last and the pages around this one.
    std::int64_t shown = 0;
    for (std::int64_t p = 1; p <= pages; ++p) {
        if (p != 1 && p != pages && (p < page - 3 || p > page + 3)) {
            if (p == page - 4 || p == page + 4)
                html += "…";
            continue;
        }
        html += p == page
                    ? "<b>" + std::to_string(p) + "</b>"
                    : "<a href=\"" + RankingLink(order, p) + "\">" + std::to_string(p) + "</a>";
        ++shown;
    }
    if (page < pages)
        html += "<a href=\"" + RankingLink(order, page + 1) + "\">次へ</a>";
    html += "</nav>\n</body></html>\n";
    return html;
}

std::string RankingJson(const RankingSlice& slice, RankScore order, std::int64_t page) {
    std::string json = "{\"total\":" + std::to_string(slice.total) + ",\"sort\":\"" +
                       kRankScoreNames[order] + "\",\"page\":" + std::to_string(page) +
                       ",\"pages\":" + std::to_string(PageCount(slice.total)) +
                       ",\"per_page\":" + std::to_string(kRankPageSize) + ",\"entries\":[";
    bool first = true;
    for (const RankedEntry& row : slice.rows) {
        const RankEntry& e = row.entry;
        json += first ? "\n" : ",\n";
        first = false;
        json += "{\"rank\":" + std::to_string(row.rank) + ",\"id\":" + std::to_string(e.id) +
                ",\"name\":\"" + JsonEscape(e.text.name) + "\",\"scores\":{";
        for (int i = 0; i < rsCount; ++i)
            json += std::string(i ? "," : "") + "\"" + kRankScoreNames[i] +
                    "\":" + std::to_string(e.scores[i]);
        json += "},\"cpu\":\"" + JsonEscape(e.text.cpu) + "\",\"video\":\"" +
                JsonEscape(e.text.video) + "\",\"memory\":\"" + JsonEscape(e.text.memory) +
                "\",\"hdd\":\"" + JsonEscape(e.text.hdd) + "\",\"comment\":\"" +
                JsonEscape(e.text.comment) + "\",\"date\":\"" + UtcTime(e.createdAt) + "\"}";
    }
    json += "]}\n";
    return json;
}

std::string EntryHtml(const RankEntry& e, std::int64_t rank,
                      const std::array<double, rsCount>& medians, std::string_view standing) {
    std::string html = Head("ゼルカ ランキング：" + e.text.name);
    html += "<h1><span>ゼルカ</span> " + HtmlEscape(e.text.name) +
            "</h1>\n<p class=\"meta\">総合 " + std::to_string(rank) + " 位　登録 " +
            LocalTime(e.createdAt) +
            "　<a href=\"/\">ランキングへ戻る</a></p>\n<div class=\"box\">\n";
    // Two bars per score, this entry and the median of all entries, each pair scaled to its
    // larger value: the scores of the tests differ by orders of magnitude.
    const int rowHeight = 44, labelWidth = 150, barWidth = 360;
    html += "<svg width=\"" + std::to_string(labelWidth + barWidth + 90) + "\" height=\"" +
            std::to_string(rowHeight * rsCount + 30) +
            "\" role=\"img\" font-size=\"12\" font-family=\"IPAPGothic,sans-serif\">"
            "<rect x=\"" +
            std::to_string(labelWidth) +
            "\" y=\"4\" width=\"12\" height=\"10\" fill=\"#d0202a\"/>"
            "<text x=\"" +
            std::to_string(labelWidth + 16) +
            "\" y=\"13\">この登録</text>"
            "<rect x=\"" +
            std::to_string(labelWidth + 90) +
            "\" y=\"4\" width=\"12\" height=\"10\" fill=\"#8a93ad\"/>"
            "<text x=\"" +
            std::to_string(labelWidth + 106) + "\" y=\"13\">全登録の中央値</text>";
    for (int i = 0; i < rsCount; ++i) {
        const int y = 24 + i * rowHeight;
        const double scale = std::max<double>({static_cast<double>(e.scores[i]), medians[i], 1.0});
        const int mine = static_cast<int>(barWidth * std::max(e.scores[i], 0) / scale + 0.5);
        const int median = static_cast<int>(barWidth * medians[i] / scale + 0.5);
        char medianText[32];
        std::snprintf(medianText, sizeof medianText, "%.0f", medians[i]);
        html += "<text x=\"0\" y=\"" + std::to_string(y + 20) + "\">" +
                ScoreLabel(static_cast<RankScore>(i)) + "</text><rect x=\"" +
                std::to_string(labelWidth) + "\" y=\"" + std::to_string(y + 2) + "\" width=\"" +
                std::to_string(mine) + "\" height=\"16\" fill=\"#d0202a\"/><text x=\"" +
                std::to_string(labelWidth + mine + 4) + "\" y=\"" + std::to_string(y + 15) + "\">" +
                std::to_string(e.scores[i]) + "</text><rect x=\"" + std::to_string(labelWidth) +
                "\" y=\"" + std::to_string(y + 20) + "\" width=\"" + std::to_string(median) +
                "\" height=\"16\" fill=\"#8a93ad\"/><text x=\"" +
                std::to_string(labelWidth + median + 4) + "\" y=\"" + std::to_string(y + 33) +
                "\">" + medianText + "</text>";
    }
    html += "</svg>\n</div>\n<table>\n";
    const std::pair<const char*, const std::string*> texts[] = {
        {"名前", &e.text.name},     {"CPU", &e.text.cpu}, {"VIDEO", &e.text.video},
        {"MEMORY", &e.text.memory}, {"HDD", &e.text.hdd}, {"コメント", &e.text.comment}};
    for (const auto& [label, text] : texts)
        html += std::string("<tr><th>") + label + "</th><td class=\"c\">" + HtmlEscape(*text) +
                "</td></tr>\n";
    html += "</table>\n";
    html += standing;
    html += "</body></html>\n";
    return html;
}

std::string StoredHtml(const StoredEntry& stored, std::int32_t overall) {
    std::string html;
    if (stored.pending) {
        html = Head("ゼルカ ランキング：審査待ち");
        html += stored.duplicate ? "<h1><span>ゼルカ</span> この内容は受付済みです</h1>\n"
                                 : "<h1><span>ゼルカ</span> 受け付けました（審査待ち）</h1>\n";
        html += "<p>総合評価 " + std::to_string(overall) +
                " 点の登録は、スコアが他の登録よりけた外れに高いため、管理者が確認するまで"
                "ランキングには載りません。</p>\n";
    } else {
        html = Head("ゼルカ ランキング：登録しました");
        html +=
            stored.duplicate
                ? "<h1><span>ゼルカ</span> この内容は登録済みです</h1>\n"
                  "<p>同じ内容の送信を受け付けたばかりなので、二重には登録しませんでした。</p>\n"
                : "<h1><span>ゼルカ</span> 登録しました</h1>\n";
        html += "<p>総合評価 " + std::to_string(overall) + " 点で、" +
                std::to_string(stored.total) + " 件中 <b>" + std::to_string(stored.rank) +
                " 位</b>です。</p>\n";
    }
    if (!stored.token.empty())
        html += "<p class=\"meta\">取り下げたいときは <a id=\"withdraw\" href=\"" +
                WithdrawalLink(stored.id, stored.token) +
                "\">この登録を取り下げる</a>（このリンクはここにしか表示されません。"
                "取り下げる場合に備えて控えておいて下さい）</p>\n";
    html += "<p>";
    if (!stored.pending)
        html += "<a href=\"/entry/" + std::to_string(stored.id) + "\">この登録のページ</a>　";
    html += "<a href=\"/\">ランキングを見る</a></p>\n</body></html>\n";
    return html;
}

std::string WithdrawalLink(std::int64_t id, std::string_view token) {
    return "/withdraw/" + std::to_string(id) + "?token=" + HtmlEscape(token);
}

std::string WithdrawConfirmHtml(std::int64_t id, std::string_view token) {
    std::string html = Head("ゼルカ ランキング：登録の取り下げ");
    html += "<h1><span>ゼルカ</span> 登録の取り下げ</h1>\n<p>登録番号 " + std::to_string(id) +
            " をランキングから取り下げます。取り下げた登録は元に戻せません。</p>\n"
            "<form method=\"post\" action=\"/withdraw/" +
            std::to_string(id) + "\"><input type=\"hidden\" name=\"token\" value=\"" +
            HtmlEscape(token) +
            "\"><input type=\"submit\" id=\"confirm\" value=\"取り下げる\"></form>\n"
            "<p><a href=\"/\">取り下げずにランキングを見る</a></p>\n</body></html>\n";
    return html;
}

std::string WithdrawnHtml(std::int64_t id) {
    std::string html = Head("ゼルカ ランキング：取り下げました");
    html += "<h1><span>ゼルカ</span> 取り下げました</h1>\n<p>登録番号 " + std::to_string(id) +
            " はランキングに表示されなくなりました。</p>\n"
            "<p><a href=\"/\">ランキングを見る</a></p>\n</body></html>\n";
    return html;
}

std::string ErrorHtml(int status, std::string_view reason) {
    std::string html = Head("ゼルカ ランキング：エラー " + std::to_string(status));
    html += "<h1><span>ゼルカ</span> " +
            std::string(status == 404 ? "ページが見つかりません" : "受け付けられませんでした") +
            "</h1>\n<p>" + HtmlEscape(reason) +
            "</p>\n<p><a href=\"/\">ランキングを見る</a></p>\n</body></html>\n";
    return html;
}
