#include "platform/Platform.h"

#include <memory>

#include "platform/foundation/Assertion.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace platform {
namespace {

// Set once the default platform has been handed out; later replacements are refused.
bool& defaultPlatformUsed() {
  static bool used = false;
  return used;
}

Platform*& installedPlatform() {
  static Platform* platform = nullptr;
  return platform;
}

Platform& buildRealPlatform() {
  // Built once and never destroyed: observers and pages may outlive main().
  Env& env = defaultEnv();
  auto* preferences = new PreferenceStore(env, preferencesDirectory());
  auto* notifications = newDistributedNotificationCenter(RunLoop::main()).release();
  auto* workspace = new ApplicationWorkspace(env, deviceRoot());
  return *new Platform{env, *preferences, *notifications, *workspace, RunLoop::main()};
}

}  // namespace

Platform& defaultPlatform() {
  if (!defaultPlatformUsed()) {
    defaultPlatformUsed() = true;
    if (installedPlatform() == nullptr) installedPlatform() = &buildRealPlatform();
  }
  return *installedPlatform();
}

void setDefaultPlatform(Platform& platform) {
  if (defaultPlatformUsed()) {
    handleFailure({"setDefaultPlatform", "platform", "Platform", __LINE__,
                   "The default platform is already in use and cannot be replaced."});
    return;
  }
  installedPlatform() = &platform;
}

}  // namespace platform
