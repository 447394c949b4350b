// An example backgrounding agent: it runs with the home screen's identity, observes every
// Halvex notification and prints, for each one, the stored settings that it announces.
// It builds against the installed libHXPreferences alone (see CMakeLists.txt, or pkg-config).
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "hx/HXPreferences.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/Platform.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"

namespace {

void show(const char* setting, bool value) {
  std::printf("  %s = %s\n", setting, value ? "true" : "false");
}

void printApplication(HXPreferences& preferences, const std::string& identifier) {
  std::printf("  backgroundBehavior = %d\n",
              preferences.backgroundingBehaviorForIdentifier(identifier));
  show("autoLaunch", preferences.shouldAutoLaunchForIdentifier(identifier));
  show("preventTermination", preferences.shouldPreventTerminationForIdentifier(identifier));
  show("activeIndicator", preferences.showActiveIndicatorForIdentifier(identifier));
  show("inactiveIndicator", preferences.showInactiveIndicatorForIdentifier(identifier));
}

void printBackgrounding(HXPreferences& preferences) {
  std::string list;
  for (const auto& identifier : preferences.backgroundingIdentifiers()) {
    list += (list.empty() ? "" : ", ") + identifier;
  }
  std::printf("  backgrounding = (%s)\n", list.c_str());
}

// Reads on receipt: every notification is posted after its change is stored, and a read
// outside a read batch synchronises the domain first, so these are the new values.
void report(HXPreferences& preferences, const platform::Notification& note) {
  std::printf("%s%s%s\n", note.name.c_str(), note.object ? " " : "",
              note.object ? note.object->c_str() : "");
  if (note.name == hx::kGlobalPreferencesChanged) {
    show("appSwitcherToggle", preferences.appSwitcherToggleEnabled());
    show("activeIndicator", preferences.showGlobalActiveIndicator());
    show("inactiveIndicator", preferences.showGlobalInactiveIndicator());
  } else if (note.name == hx::kApplicationPreferencesChanged && note.object) {
    printApplication(preferences, *note.object);
  } else if (note.object) {
    show("isBackgroundingEnabled", preferences.isBackgroundingEnabledForIdentifier(*note.object));
    printBackgrounding(preferences);
  } else {
    printBackgrounding(preferences);
  }
  std::fflush(stdout);
}

}  // namespace

int main() {
  platform::setMainBundleIdentifier(std::string(hx::kSpringboardBundleIdentifier));
  platform::Platform& platform = platform::defaultPlatform();
  HXPreferences& preferences = HXPreferences::sharedPreferences();

  std::vector<platform::ObserverToken> tokens;
  for (std::string_view name :
       {hx::kGlobalPreferencesChanged, hx::kApplicationPreferencesChanged,
        hx::kApplicationBackgroundingChanged, hx::kApplicationSpringboardChangedBackgrounding,
        hx::kApplicationBackgroundingDisabledAll}) {
    tokens.push_back(platform.notifications.addObserver(
        std::string(name), std::nullopt,
        [&](const platform::Notification& note) { report(preferences, note); }));
  }
  std::fprintf(stderr, "agent: observing the Halvex notifications\n");
  std::fflush(stderr);

  platform.runLoop.stopOnSignals({SIGINT, SIGTERM});
  platform.runLoop.run();
  return 0;
}
