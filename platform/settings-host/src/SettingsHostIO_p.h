// File access of the list-page host, over the foundation's plist reader and Env.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Limits.h"
#include "platform/foundation/Value.h"

namespace platform {
class Env;
namespace hostio {

// The root of the plist file at `path`; none when it is missing or malformed, with the
// reason in `error`.
std::optional<Value> readPropertyList(Env& env, const std::string& path, FileKind kind,
                                      std::string& error);

}  // namespace hostio
}  // namespace platform
