#pragma once
// What the service sends: the ranking as HTML (UTF-8, Japanese) and JSON, an entry's page,
// and the replies to a post. Every user text is escaped where it is written.
#include "RankStore.h"

#include <string>
#include <string_view>

inline constexpr int kRankPageSize = 50;

// Text as HTML character data or attribute value: & < > " ' as entities.
std::string HtmlEscape(std::string_view text);
// Text as the inside of a JSON string.
std::string JsonEscape(std::string_view text);

// The start of every page up to its <body>: the shared style and the escaped title.
std::string PageHead(std::string_view title);
// A time in seconds since the epoch as "YYYY-MM-DDTHH:MM:SSZ", as the JSON writes it.
std::string UtcTime(std::int64_t seconds);

// A time in seconds since the epoch as local "YYYY-MM-DD HH:MM", as the pages show it.
std::string LocalTime(std::int64_t seconds);

// The Japanese name of a score's column ("総合評価", "CPU性能", ...).
const char* ScoreLabel(RankScore score);

std::string RankingHtml(const RankingSlice& slice, RankScore order, std::int64_t page);
std::string RankingJson(const RankingSlice& slice, RankScore order, std::int64_t page);
// `standing`: more of the page, after the entry's texts (where it stands among the others).
std::string EntryHtml(const RankEntry& entry, std::int64_t rank,
                      const std::array<double, rsCount>& medians, std::string_view standing = {});
// The reply to a stored (or reloaded) post: its rank, or that it awaits review, and for a new
// entry the link that withdraws it.
std::string StoredHtml(const StoredEntry& stored, std::int32_t overall);
// The withdrawal link's address, the page it opens (a button that confirms) and the reply.
std::string WithdrawalLink(std::int64_t id, std::string_view token);
std::string WithdrawConfirmHtml(std::int64_t id, std::string_view token);
std::string WithdrawnHtml(std::int64_t id);
// A refusal or an error: status line text and the reason, in Japanese.
std::string ErrorHtml(int status, std::string_view reason);
