// Who may talk to the Settings server. The server listens on 127.0.0.1 only, yet a web page
// from anywhere can make the user's browser send it requests: a rebound DNS name reaches it
// with a foreign Host header, and a cross-site form or script carries a foreign Origin.
// These checks refuse both before a request is routed. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace settingsapp {

// What the guard needs to know of one request. Empty views stand for absent headers.
struct RequestFacts {
  std::string_view method;        // "GET", "POST", ...
  std::string_view host;          // the Host header
  std::string_view origin;        // the Origin header
  bool hasOrigin = false;         // an empty Origin header still counts as present
  std::string_view secFetchSite;  // the Sec-Fetch-Site header
  std::string_view contentType;   // the Content-Type header
  bool websocketUpgrade = false;  // a WebSocket opening handshake
  // The Transfer-Encoding fields joined by commas, in order.
  std::string_view transferEncoding;
  bool hasTransferEncoding = false;
};

struct Refusal {
  int status = 403;
  std::string reason;
};

// True for "127.0.0.1:PORT" and "localhost:PORT" (host part case-insensitive).
bool isOwnHost(std::string_view host, std::uint16_t port);

// True for "http://127.0.0.1:PORT" and "http://localhost:PORT" (case-insensitive scheme and
// host, no path). The literal "null" origin of sandboxed frames and files is never ours.
bool isOwnOrigin(std::string_view origin, std::uint16_t port);

// Refuses (403) a foreign or missing Host, a foreign Origin, a WebSocket handshake without
// an Origin, and a POST that a browser marks as cross-site. Refuses (415) a POST whose body
// is not declared as JSON, which a cross-site form cannot send without a preflight.
// Refuses (400) a Transfer-Encoding whose last coding is not "chunked": the body's length
// is then unknown, and reading on would take the rest as another request. Refuses (501)
// any coding before "chunked", which the server does not decode.
// Returns nothing when the request may be routed.
std::optional<Refusal> checkRequest(const RequestFacts& facts, std::uint16_t port);

}  // namespace settingsapp
