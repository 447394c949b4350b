#include "RequestGuard.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace settingsapp {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The codings of a Transfer-Encoding list without their parameters, in order; empty list
// elements are skipped.
std::vector<std::string_view> transferCodings(std::string_view list) {
  std::vector<std::string_view> codings;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view element = list.substr(0, comma);
    element = trim(element.substr(0, element.find(';')));
    if (!element.empty()) codings.push_back(element);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return codings;
}

std::optional<Refusal> checkTransferEncoding(std::string_view list) {
  const std::vector<std::string_view> codings = transferCodings(list);
  if (codings.empty() || !equalsIgnoringCase(codings.back(), "chunked")) {
    return Refusal{400, "a Transfer-Encoding must end in chunked"};
  }
  if (codings.size() > 1) return Refusal{501, "only the chunked transfer coding is understood"};
  return std::nullopt;
}

}  // namespace

bool isOwnHost(std::string_view host, std::uint16_t port) {
  host = trim(host);
  const std::string suffix = ":" + std::to_string(port);
  if (!host.ends_with(suffix)) return false;
  std::string_view name = host.substr(0, host.size() - suffix.size());
  return name == "127.0.0.1" || equalsIgnoringCase(name, "localhost");
}

bool isOwnOrigin(std::string_view origin, std::uint16_t port) {
  origin = trim(origin);
  constexpr std::string_view kScheme = "http://";
  if (origin.size() <= kScheme.size() ||
      !equalsIgnoringCase(origin.substr(0, kScheme.size()), kScheme)) {
    return false;
  }
  return isOwnHost(origin.substr(kScheme.size()), port);
}

std::optional<Refusal> checkRequest(const RequestFacts& facts, std::uint16_t port) {
  if (facts.host.empty()) return Refusal{403, "missing Host header"};
  if (!isOwnHost(facts.host, port)) {
    return Refusal{403, "this server answers only to 127.0.0.1:" + std::to_string(port) +
                            " and localhost:" + std::to_string(port)};
  }
  if (facts.hasOrigin && !isOwnOrigin(facts.origin, port)) {
    return Refusal{403, "cross-origin requests are refused"};
  }
  if (facts.hasTransferEncoding) {
    if (auto refusal = checkTransferEncoding(facts.transferEncoding)) return refusal;
  }
  if (facts.websocketUpgrade && !facts.hasOrigin) {
    return Refusal{403, "a WebSocket handshake needs an Origin header"};
  }
  if (facts.method == "POST") {
    std::string_view site = trim(facts.secFetchSite);
    if (!site.empty() && site != "same-origin" && site != "none") {
      return Refusal{403, "cross-site requests are refused"};
    }
    std::string_view type = trim(facts.contentType.substr(0, facts.contentType.find(';')));
    if (!equalsIgnoringCase(type, "application/json")) {
      return Refusal{415, "actions must be sent as application/json"};
    }
  }
  return std::nullopt;
}

}  // namespace settingsapp
