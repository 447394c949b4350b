// Dates typed as text, in the two forms this system prints: the one halvex-defaults' `read`
// shows and the ISO 8601 one its `--json` and the XML plist use. Pure; any thread.
#pragma once

#include <optional>
#include <string_view>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

// A date to the second: "2024-01-02 03:04:05 +0000" (any offset of ±hhmm under 24 hours) or
// "2024-01-02T03:04:05Z". Nothing for any other text or a day, hour, minute or second that does
// not exist.
HX_PLATFORM_EXPORT std::optional<Value> parseDate(std::string_view text);

}  // namespace platform
