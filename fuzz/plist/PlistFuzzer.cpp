// Any bytes end as a property list or as "unreadable". What parses must serialise and read
// back equal in binary, the format that keeps every value exactly.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto value = platform::parsePropertyList(bytes);
  if (!value) return 0;
  const auto binary = platform::serializePropertyList(*value, platform::PlistFormat::Binary);
  if (!binary) std::abort();
  const auto again = platform::parsePropertyList(*binary);
  if (!again || !(*again == *value)) std::abort();
  (void)platform::serializePropertyList(*value, platform::PlistFormat::Xml);
  return 0;
}
