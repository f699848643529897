#include "SysUtils.h"

#include <cctype>
#include <charconv>

std::string IntToStr(std::int32_t value) { return std::to_string(value); }
std::string IntToStr(std::int64_t value) { return std::to_string(value); }

std::int32_t StrToInt(const std::string& text) {
    auto fail = [&]() -> std::int32_t {
        throw EConvertError("'" + text + "' is not a valid integer value");
    };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return fail();
    std::uint64_t magnitude = 0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, magnitude, base);
    if (ec != std::errc() || end != last)
        return fail();
    // Hexadecimal text may spell a negative number in two's complement, as the run-time
    // library allows ($FFFFFFFF is -1).
    if (base == 16 && !negative && magnitude <= 0xFFFFFFFFull)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull)
        return fail();
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<std::int32_t>(magnitude);
}
