// UTF-8 checks shared by every layer that takes text from outside (plist files, the bus,
// strings files).
#pragma once

#include <string_view>

#include "platform/foundation/Export.h"

namespace platform {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no truncated sequence. NUL bytes are well-formed.
HX_PLATFORM_EXPORT bool isValidUtf8(std::string_view text);

}  // namespace platform
