#include "SpringboardCommands.h"

#include <csignal>
#include <cstdio>
#include <vector>

#include "hx/HXApplicationsManager.h"
#include "hx/HXPreferences.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/Platform.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Utf8.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/notifications/NotificationCenter.h"

using platform::Value;

namespace springboard {
namespace {

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);  // line by line, so a reader on a pipe sees each at once
}

// Runs one change and sends its posts before the process exits, then says what it came to
// as the exit status: 0 stored (or nothing to change), 1 not stored, 3 stored but not durable,
// 4 stored but not announced. The store and the centre have logged the reason.
template <class Change>
int change(const char* what, Change&& run) {
  platform::WriteOutcomeRecorder outcome;
  run(HXPreferences::sharedPreferences());
  platform::defaultPlatform().notifications.flush();
  const platform::WriteOutcome worst = outcome.worst();
  if (worst == platform::WriteOutcome::Stored) return 0;
  std::fprintf(stderr, "halvex-springboard: %s: %s (see the reason above)\n", what,
               platform::commandLineWords(worst));
  return platform::exitStatusFor(worst);
}

// An identifier that is not UTF-8 names no application and cannot be stored.
bool isUsableIdentifier(const std::string& identifier) {
  if (platform::isValidUtf8(identifier)) return true;
  std::fprintf(stderr, "halvex-springboard: the application identifier is not valid UTF-8\n");
  return false;
}

Value stringArray(const std::vector<std::string>& items) {
  Value::Array array;
  for (const auto& item : items) array.emplace_back(item);
  return Value(std::move(array));
}

}  // namespace

int listen() {
  platform::Platform& platform = platform::defaultPlatform();
  const std::string_view names[] = {
      hx::kApplicationBackgroundingChanged, hx::kApplicationSpringboardChangedBackgrounding,
      hx::kApplicationBackgroundingDisabledAll, hx::kGlobalPreferencesChanged,
      hx::kApplicationPreferencesChanged};
  std::vector<platform::ObserverToken> tokens;
  for (std::string_view name : names) {
    tokens.push_back(platform.notifications.addObserver(
        std::string(name), std::nullopt, [](const platform::Notification& note) {
          Value::Dictionary line;
          line["name"] = Value(note.name);
          line["object"] = note.object ? Value(*note.object) : Value::null();
          line["userInfo"] = note.userInfo.isDictionary() ? note.userInfo : Value::dictionary();
          printLine(platform::toJson(Value(std::move(line))));
        }));
  }
  // Tell a waiting reader (a test, a script) that the observers are registered.
  std::fprintf(stderr, "halvex-springboard: listening\n");
  std::fflush(stderr);
  platform.runLoop.stopOnSignals({SIGINT, SIGTERM});
  platform.runLoop.run();
  return 0;
}

int enable(const std::string& identifier) {
  if (!isUsableIdentifier(identifier)) return 1;
  return change("enable",
                [&](HXPreferences& store) { store.addBackgroundingIdentifier(identifier); });
}

int disable(const std::string& identifier) {
  if (!isUsableIdentifier(identifier)) return 1;
  return change("disable",
                [&](HXPreferences& store) { store.removeBackgroundingIdentifer(identifier); });
}

int clear() {
  return change("clear", [](HXPreferences& store) { store.removeAllBackgroundingIdentifiers(); });
}

int status() {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  Value::Dictionary global;
  global[std::string(hx::kAppSwitcherToggleKey)] =
      Value::boolean(preferences.appSwitcherToggleEnabled());
  global[std::string(hx::kActiveIndicatorKey)] =
      Value::boolean(preferences.showGlobalActiveIndicator());
  global[std::string(hx::kInactiveIndicatorKey)] =
      Value::boolean(preferences.showGlobalInactiveIndicator());
  Value::Dictionary out;
  out["backgrounding"] = stringArray(preferences.backgroundingIdentifiers());
  out["global"] = Value(std::move(global));
  printLine(platform::toJson(Value(std::move(out))));
  return 0;
}

int apps() {
  HXApplicationsManager manager;
  Value catalogue = manager.allApplications();
  Value::Array list;
  for (const Value& identifier : catalogue["identifiers"].arrayValue()) {
    const Value& entry = catalogue["applications"][identifier.stringValue()];
    Value::Dictionary row;
    row["identifier"] = identifier;
    row["displayName"] = entry["displayName"];
    list.emplace_back(std::move(row));
  }
  printLine(platform::toJson(Value(std::move(list))));
  return 0;
}

}  // namespace springboard
