// The two property-list encodings behind PropertyList.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace platform::plist {

// Containers nested deeper than this make a document unreadable, so that hostile input
// cannot exhaust the stack.
inline constexpr int kMaximumDepth = 512;

std::optional<Value> parseBinary(std::string_view bytes);
std::optional<Value> parseXml(std::string_view text);
std::optional<std::string> writeBinary(const Value& value);
std::optional<std::string> writeXml(const Value& value);

}  // namespace platform::plist
