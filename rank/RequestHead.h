#pragma once
// What the service decides from a request's head alone, before any of its body is read: the
// framing and encodings it refuses, and whose address a request counts for.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A refusal of the head: the status and a Japanese sentence. The connection is closed after it,
// as the rest of what the client sends cannot be trusted to be read the same way.
struct HeadRefusal {
    int status = 400;
    std::string reason;
};

// Repeated Content-Length, Content-Length with Transfer-Encoding, any Transfer-Encoding but
// exactly "chunked", or a Content-Length that is no number: 400. Any Content-Encoding: 415. A
// declared length above `bodyLimit`: 413. For a post of a form (`formPost`), a media type other
// than application/x-www-form-urlencoded: 415.
std::optional<HeadRefusal> CheckRequestHead(const HeaderList& headers, bool formPost,
                                            std::size_t bodyLimit);

// An IP address in its canonical text ("::1", "127.0.0.1"); empty for anything else.
std::string CanonicalAddress(std::string_view text);

// The client's address: the peer's, or, when the peer is the trusted proxy, the last hop of
// X-Forwarded-For (the address the proxy itself added; those before it are the client's say).
// `forwardedFor`: the X-Forwarded-For values in the order sent.
std::string ClientAddress(const std::string& peer, const std::string& trustedProxy,
                          const std::vector<std::string>& forwardedFor);
