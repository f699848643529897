#include "CP932.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace {

// One conversion descriptor per direction and call: iconv keeps shift state in it.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of input; an unconvertible or invalid sequence of `skip(in, left)` bytes is
    // replaced by `replacement`.
    template <typename Skip>
    std::string Run(std::string_view input, std::string_view replacement, Skip skip) {
        std::string out;
        char buffer[256];
        char* in = const_cast<char*>(input.data());
        std::size_t left = input.size();
        while (left > 0) {
            char* dest = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t r = iconv(cd_, &in, &left, &dest, &room);
            out.append(buffer, static_cast<std::size_t>(dest - buffer));
            if (r != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (a sequence cut off at the end)
            out.append(replacement);
            const std::size_t n = std::min(left, skip(in, left));
            in += n;
            left -= n;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence starting at *in (1 for a stray byte).
std::size_t Utf8Length(const char* in, std::size_t left) {
    const auto lead = static_cast<unsigned char>(*in);
    std::size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (n > left)
        return 1;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80)
            return 1;
    return n;
}

} // namespace

std::string ToCP932(std::string_view utf8) {
    Converter converter("CP932", "UTF-8");
    return converter.Run(utf8, "?", Utf8Length);
}

std::string ToCP932(const QString& text) {
    return ToCP932(text.toStdString());
}

std::string CP932ToUtf8(std::string_view cp932) {
    Converter converter("UTF-8", "CP932");
    // One bad byte at a time: a lead byte with a bad trail byte loses only itself, so the
    // trail (often plain ASCII) still shows.
    return converter.Run(cp932, "\xEF\xBF\xBD",
                         [](const char*, std::size_t) -> std::size_t { return 1; });
}

QString FromCP932(std::string_view cp932) {
    return QString::fromStdString(CP932ToUtf8(cp932));
}

std::optional<std::string> DecodeStrict(std::string_view bytes, const char* charset) {
    Converter converter("UTF-8", charset);
    bool valid = true;
    std::string text = converter.Run(bytes, "", [&valid](const char*, std::size_t left) {
        valid = false;
        return left;
    });
    if (!valid)
        return std::nullopt;
    return text;
}
