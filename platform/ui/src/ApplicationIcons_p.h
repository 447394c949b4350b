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
// A name for what iconPath() would draw from that changes when the icon does, or none when
// there is no icon. The workspace answers from its last scan without looking at a file
// (see ApplicationWorkspace::iconVersionForIdentifier); a replaced source is asked for the
// path, whose file's identity then names it.
std::optional<std::string> iconVersion(const std::string& identifier, double pointSize,
                                       double scale);

}  // namespace platform::uidetail
