// JSON for the command-line programs and the web UI: values out as JSON text, and strict
// JSON text in as values. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

// Writes `value` as JSON in one line of ASCII: dictionaries as objects, arrays as arrays,
// strings with every character outside printable ASCII escaped (non-BMP characters as
// surrogate pairs, invalid UTF-8 bytes as U+FFFD), integers as numbers (unsigned ones above
// INT64_MAX too), reals with a fraction or exponent so they read back as reals (NaN and the
// infinities, which JSON lacks, as null), booleans as true/false, None, the null marker and
// object references as null, data as a base64 string, and dates as an ISO-8601 UTC string
// ("2001-01-01T00:00:00Z", with milliseconds when the date has a fraction; null outside the
// years 0-9999).
HX_PLATFORM_EXPORT std::string toJson(const Value& value);

// Parses one JSON value (RFC 8259, nothing else around it but whitespace). Numbers without
// fraction or exponent that fit 64 bits become integers, other numbers reals; null becomes
// the null marker; a repeated object key keeps its last value. Returns nothing on any syntax
// error, invalid UTF-8, a lone surrogate escape, a number out of the double range, or
// nesting deeper than 256 levels.
HX_PLATFORM_EXPORT std::optional<Value> parseJson(std::string_view text);

}  // namespace platform
