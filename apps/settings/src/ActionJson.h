// Reads the JSON text of one browser action into a Value. Actions are small flat objects, so
// the reader is strict and bounded: nesting deeper than kMaxJsonDepth, a trailing comma, a
// lone surrogate, or anything after the value is a refusal, never a crash. Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/foundation/Value.h"

namespace settingsapp {

inline constexpr std::size_t kMaxJsonDepth = 16;

// The value of `text`: objects become dictionaries (a repeated key keeps its last value),
// arrays arrays, strings strings, true/false booleans, null the null marker, integral numbers
// that fit 64 bits integers and every other number a real. None when `text` is not one
// well-formed JSON value.
std::optional<platform::Value> parseActionJson(std::string_view text);

}  // namespace settingsapp
