#include "ModelName.h"

#include <QRegularExpression>
#include <QString>
#include <array>
#include <set>
#include <vector>

namespace {

// The rules, in order, each a pattern over the folded lower-case text and what replaces it.
// Written once here: a change raises kModelRulesVersion.
struct Rule {
    const char* pattern;
    const char* replacement;
};
constexpr Rule kRules[] = {
    // Trademark and copyright marks, folded "(R)" and "(TM)" too.
    {R"(\((r|tm|c)\))", " "},
    // The clock a part runs at, written after "@": "CPU @ 3.70GHz", "Celeron 300A@450".
    {R"(@.*$)", ""},
    // Vendor names as lspci and drivers write them.
    {R"(\[amd/ati\])", " "},
    {R"(\b(intel corporation|advanced micro devices,? inc\.?|nvidia corporation|ati technologies,?)"
     R"( inc\.?|via technologies,? inc\.?|s3 graphics,? co\.,? ltd\.?|matrox electronics systems)"
     R"( ltd\.?|red hat,? inc\.?|vmware,? inc\.?))",
     " "},
    // lspci's "chip [Marketing Name]": the name in brackets is the model.
    {R"(^[^\[]*\[([^\]]+)\].*$)", "\\1"},
    // Notes in parentheses: "(rev a1)", "(KBL GT2)", "(LLVM 15.0.6, 256 bits)", "(v7l)".
    {R"(\([^)]*\)?)", " "},
    // Bus and driver suffixes of an OpenGL renderer string: "GeForce GTX 1080/PCIe/SSE2".
    {R"(/(pcie|pci|agp|sse2|sse|3dnow!?|mmx)\b)", " "},
    // Software renderers' and drivers' prefixes: "Mesa DRI Intel(R) HD Graphics 4000".
    {R"(\b(mesa|dri|gallium \d+(\.\d+)* on|opengl engine)\b)", " "},
    // Words that name no part of the model.
    {R"(\b(\w+)-core\b|\b(dual|triple|quad|six|eight|hexa|octa) core\b)", " "},
    {R"(\bwith radeon( vega)? graphics\b|\bseries\b|\bcpu\b|\bprocessor\b|\bapu\b|\brev \w+\s*$)",
     " "},
    // Vendors' names as single words: the model is the same with or without them.
    {R"(\b(intel|amd|nvidia|ati|via|centaur|cyrix|idt|arm|broadcom|qualcomm|microsoft)\b)", " "},
    // "PentiumII 400MHz" and "Pentium II 400 MHz" are one.
    {R"(\bpentium(ii|iii|iv|4|mmx|pro)\b)", "pentium \\1"},
    {R"((\d)\s+(mhz|ghz)\b)", "\\1\\2"},
    // Spacing and the punctuation left at either end.
    {R"(\s+)", " "},
    {R"(^[\s,;:/\-]+|[\s,;:/\-]+$)", ""},
};

// Texts that name no model: answers for "I don't know" and the program's vendor ids.
const std::set<std::string> kNoModel = {
    "不明",         "わからない",   "分からない",
    "不詳",         "なし",         "無し",
    "unknown",      "none",         "n/a",
    "na",           "default",      "genuineintel",
    "authenticamd", "cyrixinstead", "centaurhauls",
    "geode by nsc", "standard vga", "standard display adapter",
};

const std::vector<std::pair<QRegularExpression, QString>>& CompiledRules() {
    static const auto rules = [] {
        std::vector<std::pair<QRegularExpression, QString>> compiled;
        for (const Rule& rule : kRules)
            compiled.emplace_back(
                QRegularExpression(QString::fromUtf8(rule.pattern),
                                   QRegularExpression::UseUnicodePropertiesOption),
                QString::fromUtf8(rule.replacement));
        return compiled;
    }();
    return rules;
}

} // namespace

std::string CanonicalModel(std::string_view text) {
    // The marks go first: compatibility folding would make "™" the letters "TM".
    QString model = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                        .replace(QRegularExpression("[®™©]"), " ")
                        .normalized(QString::NormalizationForm_KC)
                        .toLower();
    for (const auto& [pattern, replacement] : CompiledRules())
        model.replace(pattern, replacement);
    bool named = false;
    for (const QChar c : model)
        named = named || c.isLetterOrNumber();
    const std::string canonical = model.toStdString();
    if (!named || kNoModel.contains(canonical))
        return {};
    return canonical;
}

std::string ModelOf(std::string_view text, const ModelAliases& aliases) {
    std::string model = CanonicalModel(text);
    // An alias may name another alias; a loop the operator made stops where it closes.
    std::set<std::string> seen;
    for (auto it = aliases.find(model); it != aliases.end() && seen.insert(model).second;
         it = aliases.find(model))
        model = it->second;
    return model;
}
