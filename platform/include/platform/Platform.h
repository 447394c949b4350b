// The platform services one process uses, as a plain aggregate of references. Library objects
// take a Platform in their constructor; tests build one over memory or temporary folders.
#pragma once

#include <cstddef>
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

// Posted after each change a store stored, whoever the writer: object, the domain's name;
// userInfo, {"keys": [key, …]} with the keys whose stored value changed, or {"all": true} when
// the whole domain may have changed (a removal, or more keys than kAnnouncedKeysLimit). Posted
// by the store's listener (announceStoredChanges), before the writer's own notifications.
inline constexpr const char* kPreferencesChangedNotification = "PlatformPreferencesChanged";
inline constexpr std::size_t kAnnouncedKeysLimit = 256;

// Has `store` post kPreferencesChangedNotification through `center` after each change it
// stores. Both must outlive the store's use.
HX_PLATFORM_EXPORT void announceStoredChanges(PreferenceStore& store, NotificationCenter& center);

// The real platform of this process (POSIX files, the user's preference domains, the D-Bus
// session bus, the device root's applications, the main run loop), built on first use from
// deviceRoot() and userHome() and never destroyed. Its store announces what it stores.
HX_PLATFORM_EXPORT Platform& defaultPlatform();

// Replaces the default platform. Accepted only before defaultPlatform() was first used;
// afterwards it goes to the assertion handler. `platform` must outlive the process's use of it.
HX_PLATFORM_EXPORT void setDefaultPlatform(Platform& platform);

}  // namespace platform
