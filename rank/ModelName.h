#pragma once
// An entry's processor and video texts as the model they name, so that one processor written
// several ways ("Intel(R) Core(TM) i7-8700K CPU @ 3.70GHz", "core i7-8700k") is one group.
#include <map>
#include <string>
#include <string_view>

// Raised whenever the rules below change: stored models are then computed again.
inline constexpr int kModelRulesVersion = 1;

// The canonical model of a processor or video text: compatibility forms folded (full-width
// letters, ®, ™), lower case, trademarks, clocks after "@", vendor and filler words, bus and
// driver suffixes and notes in parentheses dropped, single spaces. Empty when the text names no
// model (empty, "不明", a vendor id such as "GenuineIntel", no letter or digit).
std::string CanonicalModel(std::string_view text);

// The operator's aliases: a canonical model to the model it stands for, both canonical.
using ModelAliases = std::map<std::string, std::string>;

// The canonical model with the aliases applied (followed a few steps, never in a loop).
std::string ModelOf(std::string_view text, const ModelAliases& aliases);
