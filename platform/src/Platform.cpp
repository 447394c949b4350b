#include "platform/Platform.h"

#include <memory>

#include "platform/foundation/Assertion.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
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
  announceStoredChanges(*preferences, *notifications);
  // Kept in the user's home, beside the system's own caches, as the device's application
  // database is: the next Settings app checks the bundles instead of reading them all.
  auto* workspace = new ApplicationWorkspace(
      env, deviceRoot(), joinPath(userHome(), "Library/Caches/com.apple.applications.cache"));
  return *new Platform{env, *preferences, *notifications, *workspace, RunLoop::main()};
}

}  // namespace

void announceStoredChanges(PreferenceStore& store, NotificationCenter& center) {
  store.setChangeListener([&center](const PreferenceStore::StoredChange& change) {
    Value::Dictionary userInfo;
    if (change.all || change.keys.size() > kAnnouncedKeysLimit) {
      userInfo.emplace("all", Value::boolean(true));
    } else {
      Value::Array keys;
      keys.reserve(change.keys.size());
      for (const std::string& key : change.keys) keys.push_back(Value::string(key));
      userInfo.emplace("keys", Value::array(std::move(keys)));
    }
    center.postNotification(kPreferencesChangedNotification, change.domain,
                            Value::dictionary(std::move(userInfo)));
  });
}

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
