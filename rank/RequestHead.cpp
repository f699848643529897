#include "RequestHead.h"

#include "Submission.h"

#include <arpa/inet.h>
#include <cctype>

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<HeadRefusal> CheckRequestHead(const HeaderList& headers, bool formPost,
                                            std::size_t bodyLimit) {
    std::vector<std::string_view> lengths, transfers, encodings, types;
    for (const auto& [name, value] : headers) {
        if (SameName(name, "Content-Length"))
            lengths.push_back(Trim(value));
        else if (SameName(name, "Transfer-Encoding"))
            transfers.push_back(Trim(value));
        else if (SameName(name, "Content-Encoding"))
            encodings.push_back(Trim(value));
        else if (SameName(name, "Content-Type"))
            types.push_back(value);
    }
    const HeadRefusal framing{400, "送信の区切り方（Content-Length・Transfer-Encoding）が正しく"
                                   "ありません。"};
    if (lengths.size() > 1 || (!lengths.empty() && !transfers.empty()) || transfers.size() > 1)
        return framing;
    if (!transfers.empty() && !SameName(transfers.front(), "chunked"))
        return framing;
    std::size_t length = 0;
    if (!lengths.empty()) {
        const std::string_view digits = lengths.front();
        if (digits.empty() || digits.size() > 18 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos)
            return framing;
        for (char c : digits)
            length = length * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!encodings.empty())
        return HeadRefusal{415, "圧縮などの符号化（Content-Encoding）をした送信は受け付けません。"};
    if (length > bodyLimit)
        return HeadRefusal{413, "送信された内容が大きすぎます。"};
    if (formPost && (types.size() != 1 || !IsFormContentType(types.front())))
        return HeadRefusal{415, "送信の形式が違います。ランキング登録フォームから送信して下さい。"};
    return std::nullopt;
}

std::string CanonicalAddress(std::string_view text) {
    const std::string address(Trim(text));
    unsigned char bytes[16];
    char out[INET6_ADDRSTRLEN] = "";
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1)
        inet_ntop(AF_INET, bytes, out, sizeof out);
    else if (inet_pton(AF_INET6, address.c_str(), bytes) == 1)
        inet_ntop(AF_INET6, bytes, out, sizeof out);
    return out;
}

std::string ClientAddress(const std::string& peer, const std::string& trustedProxy,
                          const std::vector<std::string>& forwardedFor) {
    if (trustedProxy.empty() || peer != trustedProxy || forwardedFor.empty())
        return peer;
    const std::string& last = forwardedFor.back();
    const std::size_t comma = last.rfind(',');
    const std::string hop =
        CanonicalAddress(comma == std::string::npos ? last : last.substr(comma + 1));
    return hop.empty() ? peer : hop;
}
