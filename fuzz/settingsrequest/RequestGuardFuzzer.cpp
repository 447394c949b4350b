// Any bytes as the facts of one request to the Settings server. Input layout: one flag byte
// (bit 0: an Origin header is present, bit 1: a WebSocket handshake), two bytes of port, then
// method, Host, Origin, Sec-Fetch-Site and Content-Type separated by newlines; missing parts
// read as empty. A request the guard lets through must name this server in its Host (and in
// its Origin when it has one), and a POST must be declared as JSON.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "RequestGuard.h"

namespace {

std::string_view nextLine(std::string_view& rest) {
  const std::size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const auto port = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  settingsapp::RequestFacts facts;
  facts.method = nextLine(rest);
  facts.host = nextLine(rest);
  facts.origin = nextLine(rest);
  facts.secFetchSite = nextLine(rest);
  facts.contentType = nextLine(rest);
  facts.hasOrigin = (flags & 1) != 0;
  facts.websocketUpgrade = (flags & 2) != 0;

  const auto refusal = settingsapp::checkRequest(facts, port);
  if (refusal) {
    if (refusal->status != 403 && refusal->status != 415) std::abort();
    if (refusal->reason.empty()) std::abort();
    return 0;
  }
  if (!settingsapp::isOwnHost(facts.host, port)) std::abort();
  if (facts.hasOrigin && !settingsapp::isOwnOrigin(facts.origin, port)) std::abort();
  if (facts.websocketUpgrade && !facts.hasOrigin) std::abort();
  if (facts.method == "POST") {
    std::string type(facts.contentType);
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (type.find("application/json") == std::string::npos) std::abort();
  }
  return 0;
}
