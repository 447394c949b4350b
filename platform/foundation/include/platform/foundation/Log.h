// The system log (NSLog): one line on standard error with the time, the process name and id,
// and the message. A test may capture the lines instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/Export.h"

namespace platform {

HX_PLATFORM_EXPORT void NSLog(std::string_view message);

// Installs a sink that receives each message instead of standard error (an empty function
// restores standard error) and returns the previous one. Main thread only.
using LogSink = std::function<void(std::string_view message)>;
HX_PLATFORM_EXPORT LogSink setLogSink(LogSink sink);

}  // namespace platform
