// The words after `halvex-defaults write DOMAIN KEY` (NUL-separated in the input) end as a
// value or as a one-line reason. A value that can be written as a binary property list reads
// back the same, and a date the parser accepts reads back from the form `read` prints.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ValueParser.h"
#include "platform/foundation/DateText.h"
#include "platform/foundation/PropertyList.h"
#include "platform/preferences/PreferenceStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words;
  for (std::size_t start = 0; start <= bytes.size();) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    words.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  const defaults::ParsedWrite parsed = defaults::parseWriteArguments(words);
  if (parsed.request.has_value() == !parsed.error.empty()) std::abort();
  if (parsed.request) {
    const platform::Value& value = parsed.request->value;
    if (auto binary = platform::serializePropertyList(value, platform::PlistFormat::Binary)) {
      const auto back = platform::parsePropertyList(*binary);
      if (!back || !platform::identicalPropertyLists(*back, value)) std::abort();
    }
  }
  if (const auto date = platform::parseDate(bytes)) {
    const auto again = platform::parseDate(date->description());
    if (!again || again->dateValue() != date->dateValue()) std::abort();
  }
  return 0;
}
