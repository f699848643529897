#include "RequestHead.h"

#include "Submission.h"

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

std::optional<std::string> ClientAddress(const std::string& peer, const NetworkSet& trusted,
                                         const std::vector<std::string>& forwardedFor) {
    if (!trusted.Contains(peer))
        return peer;
    std::vector<std::string_view> hops;
    for (const std::string& value : forwardedFor) {
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            hops.push_back(rest.substr(0, comma));
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    std::string client = peer;
    for (auto hop = hops.rbegin(); hop != hops.rend(); ++hop) {
        client = CanonicalAddress(*hop);
        if (client.empty())
            return std::nullopt;
        if (!trusted.Contains(client))
            break;
    }
    return client;
}
