#pragma once
// A post of the ranking page's form, as a browser sends it: parsed, decoded and verified.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The six scores in the order of the page's hidden fields sc, sc1 ... sc5.
enum RankScore { rsOverall, rsCpu, rsGdi, rsDDraw, rsD3D, rsDisk, rsCount };

// The user's own fields, decoded to UTF-8.
struct RankUserText {
    std::string name, cpu, video, memory, hdd, comment;
    bool operator==(const RankUserText&) const = default;
};

struct RankSubmission {
    std::int32_t scores[rsCount] = {};
    RankUserText text;
};

// Why a post is refused: the HTTP status and a Japanese sentence for the reply page.
struct RankRefusal {
    int status = 400;
    std::string reason;
};

// Longest accepted texts, in characters. The whole body of the longest legal post (every
// character sent as a numeric reference) stays under kRankBodyLimit.
inline constexpr std::size_t kRankNameLimit = 32;
inline constexpr std::size_t kRankFieldLimit = 64; // cpu, video, memory, hdd
inline constexpr std::size_t kRankCommentLimit = 160;
inline constexpr std::size_t kRankBodyLimit = 8192;
// Scores above this are no run of the program (its panels hold 32-bit integers).
inline constexpr std::int64_t kRankScoreMax = 2147483647;

// The code a browser used for the form's texts. A page that declares an unknown character set
// is shown in the code the browser guesses from its bytes (Chromium: Shift_JIS for the
// program's page); the form is sent in that code, with the characters it cannot hold as
// numeric references "&#12354;".
enum class FormCharset { ShiftJis, EucJp, Utf8 };

// application/x-www-form-urlencoded: name/value pairs with '+' and %XX decoded to raw bytes.
// Nothing for a malformed escape.
std::optional<std::vector<std::pair<std::string, std::string>>>
ParseFormBody(std::string_view body);

// The form's code, told by the bytes of the submit button's fixed text "送信" when present,
// otherwise guessed from the texts themselves.
FormCharset DetectFormCharset(const std::vector<std::pair<std::string, std::string>>& fields);

// One text field's bytes as UTF-8: strictly decoded from `charset`, then (for the Japanese
// codes) numeric character references resolved. Nothing when the bytes are not valid in that
// code or hold a control character.
std::optional<std::string> DecodeFormText(std::string_view bytes, FormCharset charset);

// The whole post checked: every score a decimal integer in range, overall the mean of the
// five, ver 200, pass the page's check value, a name, texts decodable and within limits.
// Either the entry or why it is refused (400 malformed, 403 scores changed).
struct RankVerdict {
    std::optional<RankSubmission> entry;
    RankRefusal refusal;
};
RankVerdict VerifySubmission(std::string_view body);

// A number as the page and the service write it: decimal digits without a leading zero ("0"
// is one), a '-' before a number other than 0, within least..most; nothing otherwise.
std::optional<std::int64_t> ParseDecimal(std::string_view text, std::int64_t least,
                                         std::int64_t most);

// Number of characters (code points) of UTF-8 text.
std::size_t Utf8Length(std::string_view utf8);

// The code points of UTF-8 bytes in their shortest form, surrogates and values up to 0x1FFFFF
// included so that a caller can name them; nothing for bytes that are no such sequence.
std::optional<std::u32string> Utf8CodePoints(std::string_view utf8);

// What a stored text may not hold: code points above U+10FFFF, surrogates, noncharacters,
// U+FEFF and the bidirectional embeddings, overrides and isolates (U+202A-U+202E,
// U+2066-U+2069), which would reorder the page around the text.
bool IsRefusedCharacter(char32_t c);

// The media type of a post's Content-Type: exactly application/x-www-form-urlencoded, in any
// case, with or without parameters such as charset.
bool IsFormContentType(std::string_view contentType);
