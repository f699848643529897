#include "Submission.h"

#include "RankCheck.h"
#include "platform/CP932.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> DecodeComponent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// "送信", the submit button's value, in each code a browser may send the form in.
constexpr std::string_view kButtonShiftJis = "\x91\x97\x90\x4D";
constexpr std::string_view kButtonEucJp = "\xC1\xF7\xBF\xAE";
constexpr std::string_view kButtonUtf8 = "\xE9\x80\x81\xE4\xBF\xA1";

bool IsAscii(std::string_view bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Code points of text already checked by Utf8CodePoints.
template <typename Each> void ForEachCodePoint(std::string_view utf8, Each each) {
    if (const auto points = Utf8CodePoints(utf8))
        for (char32_t c : *points)
            each(c);
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// "&#12354;" and "&#x3042;" as the characters they stand for; anything else stays as it is.
std::string ResolveCharacterReferences(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, "&#") == 0) {
            std::size_t j = i + 2;
            const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
            if (hex)
                ++j;
            const std::size_t digitsAt = j;
            std::uint32_t value = 0;
            while (j < text.size() && j - digitsAt < 8 &&
                   (hex ? HexDigit(text[j]) >= 0 : (text[j] >= '0' && text[j] <= '9'))) {
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(HexDigit(text[j]));
                ++j;
            }
            const bool scalar =
                value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
            if (j > digitsAt && j < text.size() && text[j] == ';' && scalar) {
                AppendUtf8(out, value);
                i = j + 1;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

const char* IconvName(FormCharset charset) {
    switch (charset) {
    case FormCharset::ShiftJis:
        return "CP932";
    case FormCharset::EucJp:
        return "EUC-JP";
    case FormCharset::Utf8:
        break;
    }
    return "UTF-8";
}

bool HasHalfWidthKana(std::string_view utf8) {
    bool found = false;
    ForEachCodePoint(utf8, [&found](char32_t c) { found = found || (c >= 0xFF61 && c <= 0xFF9F); });
    return found;
}

// Characters that show nothing: every kind of space, the zero-width ones and the Hangul fillers.
bool IsInvisible(char32_t c) {
    return c == ' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200D) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x2060 || c == 0x3000 || c == 0x3164 ||
           c == 0x115F || c == 0x1160 || c == 0xFFA0 || c == 0x180E || c == 0x2800;
}

bool IsBlank(std::string_view utf8) {
    bool blank = true;
    ForEachCodePoint(utf8, [&blank](char32_t c) { blank = blank && IsInvisible(c); });
    return blank;
}

RankVerdict Refuse(int status, std::string reason) {
    return {std::nullopt, {status, std::move(reason)}};
}

} // namespace

std::optional<std::int64_t> ParseDecimal(std::string_view text, std::int64_t least,
                                         std::int64_t most) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    // 18 digits cannot overflow; the range then decides.
    if (digits.empty() || digits.size() > 18 || (digits.size() > 1 && digits[0] == '0') ||
        (negative && digits == "0"))
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    value = negative ? -value : value;
    if (value < least || value > most)
        return std::nullopt;
    return value;
}

std::optional<std::u32string> Utf8CodePoints(std::string_view utf8) {
    std::u32string points;
    points.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        // Leads up to F7 (21 bits), so that a code point beyond U+10FFFF is read and named.
        const std::size_t n = lead < 0x80   ? 1
                              : lead < 0xC2 ? 0
                              : lead < 0xE0 ? 2
                              : lead < 0xF0 ? 3
                              : lead < 0xF8 ? 4
                                            : 0;
        if (n == 0 || i + n > utf8.size())
            return std::nullopt;
        char32_t c = n == 1 ? lead : n == 2 ? lead & 0x1F : n == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < n; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (next & 0x3F);
        }
        // The shortest form only.
        if ((n == 3 && c < 0x800) || (n == 4 && c < 0x10000))
            return std::nullopt;
        points += c;
        i += n;
    }
    return points;
}

bool IsRefusedCharacter(char32_t c) {
    const bool noncharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
    const bool bidi = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    return c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || noncharacter || c == 0xFEFF || bidi;
}

std::size_t Utf8Length(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

std::optional<Fields> ParseFormBody(std::string_view body) {
    Fields fields;
    while (!body.empty()) {
        const std::size_t amp = body.find('&');
        const std::string_view pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t eq = pair.find('=');
        auto name = DecodeComponent(pair.substr(0, eq));
        auto value = DecodeComponent(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
        if (!name || !value)
            return std::nullopt;
        fields.emplace_back(std::move(*name), std::move(*value));
    }
    return fields;
}

FormCharset DetectFormCharset(const Fields& fields) {
    std::string texts;
    for (const auto& [name, value] : fields) {
        if (name == "B1") {
            if (value == kButtonShiftJis)
                return FormCharset::ShiftJis;
            if (value == kButtonEucJp)
                return FormCharset::EucJp;
            if (value == kButtonUtf8)
                return FormCharset::Utf8;
        }
        texts += value;
        texts += ' ';
    }
    if (IsAscii(texts) || Utf8CodePoints(texts))
        return FormCharset::Utf8;
    const auto shiftJis = DecodeStrict(texts, "CP932");
    const bool eucJp = DecodeStrict(texts, "EUC-JP").has_value();
    // EUC-JP pairs often also read as Shift-JIS, but then as half-width kana, which nobody
    // types in a name.
    if (eucJp && (!shiftJis || HasHalfWidthKana(*shiftJis)))
        return FormCharset::EucJp;
    return FormCharset::ShiftJis;
}

std::optional<std::string> DecodeFormText(std::string_view bytes, FormCharset charset) {
    // UTF-8 is read here rather than by iconv, so that what no text may hold (surrogates, code
    // points above U+10FFFF) is kept to be refused by name instead of turned into U+FFFD.
    auto text = charset == FormCharset::Utf8
                    ? (Utf8CodePoints(bytes) ? std::optional<std::string>(bytes) : std::nullopt)
                    : DecodeStrict(bytes, IconvName(charset));
    if (!text)
        return std::nullopt;
    // A form in UTF-8 can hold every character, so a "&#...;" in it is what the user typed.
    if (charset != FormCharset::Utf8)
        text = ResolveCharacterReferences(*text);
    bool control = false;
    ForEachCodePoint(*text, [&control](char32_t c) { control = control || IsControl(c); });
    if (control)
        return std::nullopt;
    return text;
}

namespace {

// The hidden fields the ranking page writes: the six scores in RankScore order, the page's
// version and its check value.
constexpr std::array<const char*, 8> kHidden = {"sc",  "sc1", "sc2", "sc3",
                                                "sc4", "sc5", "ver", "pass"};

// The texts a user types, their labels in refusals and their limits in characters.
struct TextField {
    const char* name;
    const char* label;
    std::size_t limit;
    std::string RankUserText::*member;
};
const TextField kTexts[] = {
    {"name", "名前", kRankNameLimit, &RankUserText::name},
    {"cpu", "CPU", kRankFieldLimit, &RankUserText::cpu},
    {"video", "VIDEO", kRankFieldLimit, &RankUserText::video},
    {"memory", "MEMORY", kRankFieldLimit, &RankUserText::memory},
    {"hdd", "HDD", kRankFieldLimit, &RankUserText::hdd},
    {"com", "コメント", kRankCommentLimit, &RankUserText::comment},
};

const std::string* FindField(const Fields& fields, std::string_view name) {
    for (const auto& [n, v] : fields)
        if (n == name)
            return &v;
    return nullptr;
}

int CountField(const Fields& fields, std::string_view name) {
    int n = 0;
    for (const auto& field : fields)
        n += field.first == name;
    return n;
}

// Each hidden field exactly once and each text at most once; unknown fields are left alone.
std::optional<RankRefusal> CheckFieldCounts(const Fields& fields) {
    for (const char* name : kHidden)
        if (const int n = CountField(fields, name); n != 1)
            return RankRefusal{400, std::string("項目「") + name +
                                        (n == 0 ? "」がありません。" : "」が重複しています。")};
    for (const TextField& t : kTexts)
        if (CountField(fields, t.name) > 1)
            return RankRefusal{400, std::string("項目「") + t.name + "」が重複しています。"};
    return std::nullopt;
}

// The six scores, each a decimal integer in range, the page's version, and the check value
// and the overall rating written by the page for these scores.
std::optional<RankRefusal> ReadScores(const Fields& fields, RankSubmission& entry) {
    for (int i = 0; i < rsCount; ++i) {
        const auto score = ParseDecimal(*FindField(fields, kHidden[i]), 0, kRankScoreMax);
        if (!score)
            return RankRefusal{400, std::string("スコア「") + kHidden[i] +
                                        "」が正しい整数ではありません。"};
        entry.scores[i] = static_cast<std::int32_t>(*score);
    }
    if (*FindField(fields, "ver") != std::to_string(kRankPageVersion))
        return RankRefusal{
            400, "ページの版（ver）が違います。このゼルカで作った登録フォームから送信して下さい。"};
    const auto pass = ParseDecimal(*FindField(fields, "pass"), INT32_MIN, INT32_MAX);
    if (!pass)
        return RankRefusal{400, "チェック値（pass）が正しい整数ではありません。"};
    if (entry.scores[rsOverall] == 0)
        return RankRefusal{400, "測定してから申請して下さい"};
    std::int64_t sum = 0;
    for (int i = rsCpu; i <= rsDisk; ++i)
        sum += entry.scores[i];
    const std::int32_t five[5] = {entry.scores[rsCpu], entry.scores[rsGdi], entry.scores[rsDDraw],
                                  entry.scores[rsD3D], entry.scores[rsDisk]};
    if (sum / 5 != entry.scores[rsOverall] ||
        *pass != RankCheckValue(entry.scores[rsOverall], five))
        return RankRefusal{403, "スコアが書き換えられているため登録できません。"};
    return std::nullopt;
}

// One typed text decoded from the form's character set, free of refused characters and
// within its limit.
std::optional<RankRefusal> ReadText(const TextField& t, const std::string& bytes,
                                    FormCharset charset, RankSubmission& entry) {
    auto text = DecodeFormText(bytes, charset);
    if (!text)
        return RankRefusal{
            400, std::string("「") + t.label +
                     "」の文字を読み取れません（文字コードが不明か、制御文字を含んでいます）。"};
    const std::u32string points = Utf8CodePoints(*text).value_or(std::u32string());
    for (char32_t c : points)
        if (IsRefusedCharacter(c)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return RankRefusal{400, std::string("「") + t.label + "」に使えない文字（" + code +
                                        "）が含まれています。"};
        }
    if (points.size() > t.limit)
        return RankRefusal{400, std::string("「") + t.label + "」が長すぎます（" +
                                    std::to_string(t.limit) + "文字まで）。"};
    entry.text.*t.member = std::move(*text);
    return std::nullopt;
}

} // namespace

RankVerdict VerifySubmission(std::string_view body) {
    if (body.size() > kRankBodyLimit)
        return Refuse(413, "送信された内容が大きすぎます。");
    const auto fields = ParseFormBody(body);
    if (!fields)
        return Refuse(400, "送信された内容の形式が正しくありません。");
    RankSubmission entry;
    if (auto refusal = CheckFieldCounts(*fields))
        return {std::nullopt, std::move(*refusal)};
    if (auto refusal = ReadScores(*fields, entry))
        return {std::nullopt, std::move(*refusal)};
    const FormCharset charset = DetectFormCharset(*fields);
    for (const TextField& t : kTexts)
        if (const std::string* bytes = FindField(*fields, t.name))
            if (auto refusal = ReadText(t, *bytes, charset, entry))
                return {std::nullopt, std::move(*refusal)};
    if (IsBlank(entry.text.name))
        return Refuse(400, "名前を入力して下さい。");
    return {entry, {}};
}

bool IsFormContentType(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.remove_prefix(1);
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    constexpr std::string_view kForm = "application/x-www-form-urlencoded";
    if (type.size() != kForm.size())
        return false;
    for (std::size_t i = 0; i < type.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(type[i])) != kForm[i])
            return false;
    return true;
}
