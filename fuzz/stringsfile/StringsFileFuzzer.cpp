// Any bytes end as a strings table or as "malformed". What a table holds reaches labels, the
// bus and the web page, so every key and value must be well-formed UTF-8 without a NUL.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/Utf8.h"
#include "platform/workspace/StringsFile.h"

namespace {

bool isCleanText(std::string_view text) {
  return platform::isValidUtf8(text) && text.find('\0') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto table = platform::parseStringsFile(bytes);
  if (!table) return 0;
  for (const auto& [key, value] : *table) {
    if (!isCleanText(key) || !isCleanText(value)) std::abort();
  }
  return 0;
}
