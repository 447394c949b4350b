// Process identity and the two places the system reads from and writes to: the device root
// (HALVEX_ROOT, read-only) and the user home (HALVEX_HOME, writable).
#pragma once

#include <string>

namespace platform {

// The main bundle's identifier ("com.apple.Preferences", "com.apple.springboard", ...).
// Each program sets it at start-up, and tests through the same call; "" until then.
const std::string& mainBundleIdentifier();
void setMainBundleIdentifier(std::string identifier);

// The device root: an explicit setDeviceRoot(), else $HALVEX_ROOT, else the installed sample
// device found from the running program's folder or from libHXPlatform's (so that a moved
// installed tree finds its own), else the sample device staged in the build tree when present,
// else the installed sample device where the build meant to install it.
std::string deviceRoot();
void setDeviceRoot(std::string path);

// The user home: an explicit setUserHome(), else $HALVEX_HOME, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/halvex/mobile.
std::string userHome();
void setUserHome(std::string path);

// $HALVEX_HOME/Library/Preferences
std::string preferencesDirectory();

}  // namespace platform
