#include "SysUtils.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>

std::string IntToStr(std::int32_t value) {
    return std::to_string(value);
}
std::string IntToStr(std::int64_t value) {
    return std::to_string(value);
}

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
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
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

TFormatSettings LocaleFormatSettings() {
    TFormatSettings settings;
    if (const std::lconv* conv = std::localeconv()) {
        if (conv->thousands_sep && *conv->thousands_sep)
            settings.ThousandSeparator = conv->thousands_sep;
        if (conv->decimal_point && *conv->decimal_point)
            settings.DecimalSeparator = conv->decimal_point;
    }
    return settings;
}

std::string FormatFloat(const std::string& format, long double value,
                        const TFormatSettings& settings) {
    const auto isPlaceholder = [](char c) { return c == '0' || c == '#'; };
    const auto first = format.find_first_of("0#");
    if (first == std::string::npos)
        return format;
    const auto last = format.find_last_of("0#");
    const std::string prefix = format.substr(0, first);
    const std::string suffix = format.substr(last + 1);
    const std::string picture = format.substr(first, last - first + 1);

    const auto point = picture.find('.');
    const std::string integerPart = picture.substr(0, point);
    const std::string decimalPart = point == std::string::npos ? "" : picture.substr(point + 1);
    const bool grouping = integerPart.find(',') != std::string::npos;
    int minInteger = 0, maxDecimals = 0, minDecimals = 0;
    for (char c : integerPart)
        minInteger += c == '0';
    for (char c : decimalPart) {
        if (isPlaceholder(c)) {
            ++maxDecimals;
            if (c == '0')
                minDecimals = maxDecimals;
        }
    }

    const bool negative = std::signbit(value) && value != 0;
    const long double scaled = std::floor(std::fabs(value) * std::pow(10.0L, maxDecimals) + 0.5L);
    std::string digits;
    for (long double rest = scaled; rest >= 1; rest = std::floor(rest / 10))
        digits.insert(digits.begin(),
                      static_cast<char>('0' + static_cast<int>(std::fmod(rest, 10))));
    if (digits.size() < static_cast<std::size_t>(maxDecimals + 1))
        digits.insert(0, maxDecimals + 1 - digits.size(), '0');
    std::string integerDigits = digits.substr(0, digits.size() - maxDecimals);
    std::string decimals = digits.substr(digits.size() - maxDecimals);
    while (static_cast<int>(decimals.size()) > minDecimals && decimals.back() == '0')
        decimals.pop_back();
    // The integer digits, padded to the forced count; a lone zero is dropped when the picture
    // forces none ("#.##" shows .5).
    integerDigits.erase(0, std::min(integerDigits.find_first_not_of('0'), integerDigits.size()));
    if (static_cast<int>(integerDigits.size()) < minInteger)
        integerDigits.insert(0, minInteger - integerDigits.size(), '0');

    std::string integerText;
    for (std::size_t i = 0; i < integerDigits.size(); ++i) {
        if (grouping && i > 0 && (integerDigits.size() - i) % 3 == 0)
            integerText += settings.ThousandSeparator;
        integerText += integerDigits[i];
    }
    const bool allZero = scaled == 0;
    std::string text = (negative && !allZero ? "-" : "") + prefix + integerText;
    if (!decimals.empty())
        text += settings.DecimalSeparator + decimals;
    return text + suffix;
}
