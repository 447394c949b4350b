// Where UIImage finds application icons: a replaceable source, by default the platform's
// application workspace. Main thread only.
#pragma once

#include <optional>
#include <string>

#include "platform/ui/UIImage.h"

namespace platform::uidetail {

UIImage::IconSource setIconSource(UIImage::IconSource source);
// The icon file of `identifier` for that point size and scale, or none.
std::optional<std::string> iconPath(const std::string& identifier, double pointSize, double scale);

}  // namespace platform::uidetail
