// The platform services one process uses, as a plain aggregate of references. Library objects
// take a Platform in their constructor; tests build one over memory or temporary folders.
#pragma once

#include "platform/foundation/Export.h"

namespace platform {

class Env;
class PreferenceStore;
class NotificationCenter;
class ApplicationWorkspace;
class RunLoop;

struct HX_PLATFORM_EXPORT Platform {
  Env& env;
  PreferenceStore& preferences;
  NotificationCenter& notifications;
  ApplicationWorkspace& workspace;
  RunLoop& runLoop;
};

// The real platform of this process (POSIX files, the user's preference domains, the D-Bus
// session bus, the device root's applications, the main run loop), built on first use from
// deviceRoot() and userHome() and never destroyed.
HX_PLATFORM_EXPORT Platform& defaultPlatform();

// Replaces the default platform. Accepted only before defaultPlatform() was first used;
// afterwards it goes to the assertion handler. `platform` must outlive the process's use of it.
HX_PLATFORM_EXPORT void setDefaultPlatform(Platform& platform);

}  // namespace platform
