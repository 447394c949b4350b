// Process identity and the two places the system reads from and writes to: the device root
// (HALVEX_ROOT, read-only) and the user home (HALVEX_HOME, writable).
#pragma once

#include <string>

#include "platform/foundation/Export.h"

namespace platform {

// The main bundle's identifier ("com.apple.Preferences", "com.apple.springboard", ...).
// Each program sets it at start-up, and tests through the same call; "" until then.
HX_PLATFORM_EXPORT const std::string& mainBundleIdentifier();
HX_PLATFORM_EXPORT void setMainBundleIdentifier(std::string identifier);

// The device root: an explicit setDeviceRoot(), else $HALVEX_ROOT, else the installed sample
// device found from the running program's folder or from libHXPlatform's (so that a moved
// installed tree finds its own), else the sample device staged in the build tree when present,
// else the installed sample device where the build meant to install it.
HX_PLATFORM_EXPORT std::string deviceRoot();
HX_PLATFORM_EXPORT void setDeviceRoot(std::string path);

// The user home: an explicit setUserHome(), else $HALVEX_HOME, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/halvex/mobile.
HX_PLATFORM_EXPORT std::string userHome();
HX_PLATFORM_EXPORT void setUserHome(std::string path);

// $HALVEX_HOME/Library/Preferences
HX_PLATFORM_EXPORT std::string preferencesDirectory();

}  // namespace platform
