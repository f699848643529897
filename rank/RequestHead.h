#pragma once
// What the service decides from a request's head alone, before any of its body is read: the
// framing and encodings it refuses, and whose address a request counts for.
#include "NetworkAddress.h"

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

// The client's address: the peer's, or, when the peer is a trusted proxy, the last address of
// X-Forwarded-For that is no trusted proxy's, walking the chain from its end (each trusted
// proxy added the address it got the request from; entries before the first untrusted one are
// the client's own say and are not read). With every hop trusted, the first of them; with no
// header, the peer. Nothing when a hop that is read is no address ("unknown", a port,
// brackets): such a request is refused rather than counted as the proxy's.
// `forwardedFor`: the X-Forwarded-For values in the order sent.
std::optional<std::string> ClientAddress(const std::string& peer, const NetworkSet& trusted,
                                         const std::vector<std::string>& forwardedFor);
