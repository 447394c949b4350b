#include "hx/HXPreferences.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "hx/HXPreferencesKeys.h"
#include "platform/Platform.h"
#include "platform/foundation/Assertion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"

using platform::Value;
using platform::ValueKind;

namespace {

constexpr const char* kSourceFile = "HXPreferences";
// The system's own line numbers for its caller errors; callers and tests rely on them.
constexpr int kGlobalKeyNilLine = 288;
constexpr int kApplicationKeyNilLine = 327;
constexpr int kInvalidObjectTypeLine = 424;

std::string str(std::string_view text) {
  return std::string(text);
}

// The kinds the storage layer accepts on write (class membership: booleans are numbers).
bool isAcceptedForWrite(const Value& value) {
  switch (value.kind()) {
    case ValueKind::Dictionary:
    case ValueKind::Array:
    case ValueKind::String:
    case ValueKind::Integer:
    case ValueKind::Real:
    case ValueKind::Boolean:
    case ValueKind::Data:
    case ValueKind::Date:
      return true;
    default:
      return false;
  }
}

// The kinds a read hands out; anything else reads as absent.
bool isReadable(const Value& value) {
  return isAcceptedForWrite(value);
}

std::vector<std::string> identifiersOf(const Value& list) {
  std::vector<std::string> identifiers;
  for (const Value& entry : list.arrayValue()) {
    if (entry.isString()) identifiers.push_back(entry.stringValue());
  }
  return identifiers;
}

bool containsIdentifier(const Value& list, const std::string& identifier) {
  const auto& items = list.arrayValue();
  return std::any_of(items.begin(), items.end(),
                     [&](const Value& v) { return v == Value(identifier); });
}

Value userInfoWith(std::string_view key, Value value) {
  Value::Dictionary entries;
  entries.emplace(str(key), std::move(value));
  return Value(std::move(entries));
}

}  // namespace

HXPreferences& HXPreferences::sharedPreferences() {
  static std::once_flag once;
  static HXPreferences* shared = nullptr;
  std::call_once(once, [] { shared = new HXPreferences(platform::defaultPlatform()); });
  return *shared;
}

HXPreferences::HXPreferences(platform::Platform& platform) : platform_(platform) {
  std::string path;
  auto directories = platform::NSSearchPathForDirectoriesInDomains(
      platform::SearchPathDirectory::ApplicationSupport, platform::SystemDomainMask, true);
  if (!directories.empty()) path = directories.front();
  path += "/";
  path += hx::kResourceBundleName;

  synchronizeRead_ = true;
  resourceBundle_ = platform::Bundle::bundleWithPath(path, platform_.env);
  Value defaults;
  if (resourceBundle_) {
    if (auto file = resourceBundle_->pathForResourceOfType("defaults", "plist")) {
      defaults = platform::readPropertyListFile(
                     platform_.env, *file, platform::FileKind::DefaultsPlist, ValueKind::Dictionary)
                     .value_or(Value());
    }
  }
  globalDefaults_ = defaults[hx::kGlobalDefaultsKey];
  applicationDefaults_ = defaults[hx::kApplicationDefaultsKey];
  identifier_ = str(hx::kDomain);
  activeIndicatorColor_ = _colorForKey(hx::kActiveIndicatorColorKey);
  inactiveIndicatorColor_ = _colorForKey(hx::kInactiveIndicatorColorKey);
}

HXPreferences::~HXPreferences() = default;

bool HXPreferences::isSettingsHost() {
  return platform::mainBundleIdentifier() == hx::kSettingsBundleIdentifier;
}

bool HXPreferences::isHomeScreen() {
  return platform::mainBundleIdentifier() == hx::kSpringboardBundleIdentifier;
}

std::string HXPreferences::description() const {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "<HXPreferences: %p>", static_cast<const void*>(this));
  return buffer;
}

void HXPreferences::post(const std::string& name, const std::optional<std::string>& object,
                         Value userInfo) {
  platform_.notifications.postNotification(name, object, userInfo);
}

bool HXPreferences::storeUpdate(std::string_view key,
                                const std::function<Value(const Value&)>& change) {
  platform::WriteOutcome outcome = platform::WriteOutcome::NotStored;
  platform_.preferences.updateAppValue(key, identifier_, change, &outcome);
  // Stored but not durable is still in the file, seen by every reader: it is announced.
  const bool succeeded = outcome != platform::WriteOutcome::NotStored;
  recordWrite(succeeded);
  return succeeded;
}

void HXPreferences::recordWrite(bool succeeded) {
  lastWriteSucceeded_.store(succeeded, std::memory_order_relaxed);
  if (!succeeded) failedWrites_.fetch_add(1, std::memory_order_relaxed);
}

// --- Read batches ----------------------------------------------------------------------

void HXPreferences::beginRead() {
  _synchronize();
  synchronizeRead_ = false;
}

void HXPreferences::commitRead() {
  synchronizeRead_ = true;
}

// --- Storage layer -----------------------------------------------------------------------

void HXPreferences::_synchronize() {
  platform_.preferences.appSynchronize(identifier_);
}

Value HXPreferences::_objectForKey(std::string_view key) {
  if (synchronizeRead_) _synchronize();
  Value value = platform_.preferences.copyAppValue(key, identifier_);
  return isReadable(value) ? value : Value();
}

bool HXPreferences::_setObjectForKey(const Value& value, std::string_view key) {
  Value stored = value;
  if (!isAcceptedForWrite(value)) {
    platform::handleFailure({"_setObject:forKey:", description(), kSourceFile,
                             kInvalidObjectTypeLine, "Invalid object type:" + value.description()});
    stored = Value();  // the handler returned: go on with no value, which removes the key
  }
  // A read-modify-write rather than a pending change: a change that cannot be stored is
  // dropped, so reads go on showing what the domain really holds.
  const bool succeeded = storeUpdate(key, [&](const Value&) { return stored; });
  _synchronize();
  return succeeded;
}

void HXPreferences::_removeObjectForKey(std::string_view key) {
  storeUpdate(key, [](const Value&) { return Value(); });
  _synchronize();
}

// --- Colours -------------------------------------------------------------------------------

float HXPreferences::_colorChannelForObject(const Value& value) {
  std::optional<float> channel = value.floatValue();
  if (!channel) return 0.0f;
  if (*channel > 1.0f) return 1.0f;
  if (*channel < 0.0f) return 0.0f;
  return *channel;
}

std::optional<platform::Color> HXPreferences::_colorForKey(std::string_view key) {
  const Value& entry = globalDefaults_[key];
  if (entry.isNone()) return std::nullopt;
  // A colour entry that is not a dictionary answers no channel: every channel reads 0.
  return platform::Color::rgba(_colorChannelForObject(entry.valueForKey("red")),
                               _colorChannelForObject(entry.valueForKey("green")),
                               _colorChannelForObject(entry.valueForKey("blue")),
                               _colorChannelForObject(entry.valueForKey("alpha")));
}

// --- Lenient conversion --------------------------------------------------------------------

bool HXPreferences::_boolForObject(const Value& value) {
  return value.boolValue().value_or(false);
}

std::int32_t HXPreferences::_intForObject(const Value& value) {
  return value.intValue().value_or(0);
}

// --- Typed global settings -----------------------------------------------------------------

Value HXPreferences::_globalObjectForKey(std::string_view key) {
  Value stored = _objectForKey(key);
  if (!stored.isNone()) return stored;
  return globalDefaults_[key];
}

bool HXPreferences::_globalBoolForKey(std::string_view key) {
  return _boolForObject(_globalObjectForKey(key));
}

std::int32_t HXPreferences::_globalIntForKey(std::string_view key) {
  return _intForObject(_globalObjectForKey(key));
}

void HXPreferences::_setGlobalObjectForKey(const Value& value, std::optional<std::string> key) {
  if (!key) {
    platform::handleFailure({"_setGlobalObject:forKey:", description(), kSourceFile,
                             kGlobalKeyNilLine, "Key cannot be nil:" + value.description()});
    recordWrite(false);
    return;  // nothing can be stored under no key
  }
  Value stored = value.isNone() ? Value::null() : value;
  // This write's own result: lastWriteSucceeded() may meanwhile tell another thread's write.
  const bool succeeded = _setObjectForKey(stored, *key);
  if (succeeded && isSettingsHost()) {
    post(str(hx::kGlobalPreferencesChanged), std::nullopt, userInfoWith(*key, stored));
  }
}

bool HXPreferences::appSwitcherToggleEnabled() {
  return _globalBoolForKey(hx::kAppSwitcherToggleKey);
}
void HXPreferences::setAppSwitcherToggleEnabled(bool enabled) {
  _setGlobalObjectForKey(Value::boolean(enabled), str(hx::kAppSwitcherToggleKey));
}
bool HXPreferences::showGlobalActiveIndicator() {
  return _globalBoolForKey(hx::kActiveIndicatorKey);
}
void HXPreferences::setShowGlobalActiveIndicator(bool show) {
  _setGlobalObjectForKey(Value::boolean(show), str(hx::kActiveIndicatorKey));
}
bool HXPreferences::showGlobalInactiveIndicator() {
  return _globalBoolForKey(hx::kInactiveIndicatorKey);
}
void HXPreferences::setShowGlobalInactiveIndicator(bool show) {
  _setGlobalObjectForKey(Value::boolean(show), str(hx::kInactiveIndicatorKey));
}

// --- Typed per-application settings --------------------------------------------------------

void HXPreferences::_readObjectForKey(std::string_view key,
                                      const std::function<void(const Value& value)>& read) {
  if (synchronizeRead_) _synchronize();
  platform_.preferences.readAppValue(key, identifier_, [&](const Value& value) {
    static const Value none;
    read(isReadable(value) ? value : none);
  });
}

Value HXPreferences::_applicationObjectForKeyIdentifier(std::string_view key,
                                                        const std::string& identifier) {
  // Only the one setting is copied out of the application's dictionary.
  Value stored;
  _readObjectForKey(identifier, [&](const Value& settings) { stored = settings[key]; });
  if (!stored.isNone()) return stored;
  return applicationDefaults_[key];
}

bool HXPreferences::_applicationBoolForKeyIdentifier(std::string_view key,
                                                     const std::string& identifier) {
  return _boolForObject(_applicationObjectForKeyIdentifier(key, identifier));
}

std::int32_t HXPreferences::_applicationIntForKeyIdentifier(std::string_view key,
                                                            const std::string& identifier) {
  return _intForObject(_applicationObjectForKeyIdentifier(key, identifier));
}

void HXPreferences::_setApplicationObjectForKeyIdentifier(const Value& value,
                                                          std::optional<std::string> key,
                                                          const std::string& identifier) {
  if (!key) {
    platform::handleFailure({"_setApplicationObject:forKey:identifier:", description(), kSourceFile,
                             kApplicationKeyNilLine, "Key cannot be nil:" + value.description()});
    recordWrite(false);
    return;
  }
  Value stored = value.isNone() ? Value::null() : value;
  // One atomic read-modify-write of the application's dictionary, so that a writer of
  // another key of the same application in another process is never lost.
  const bool succeeded = storeUpdate(identifier, [&](const Value& current) {
    Value settings = current.isDictionary() ? current : Value::dictionary();
    settings.mutableDictionary()[*key] = stored;
    return settings;
  });
  _synchronize();
  if (succeeded && isSettingsHost()) {
    post(str(hx::kApplicationPreferencesChanged), identifier, userInfoWith(*key, stored));
  }
}

std::int32_t HXPreferences::backgroundingBehaviorForIdentifier(const std::string& identifier) {
  return _applicationIntForKeyIdentifier(hx::kBackgroundBehaviorKey, identifier);
}
void HXPreferences::setBackgroundingBehaviorForIdentifier(std::int32_t behavior,
                                                          const std::string& identifier) {
  _setApplicationObjectForKeyIdentifier(
      Value::unsignedInteger(static_cast<std::uint32_t>(behavior)), str(hx::kBackgroundBehaviorKey),
      identifier);
}
bool HXPreferences::shouldAutoLaunchForIdentifier(const std::string& identifier) {
  return _applicationBoolForKeyIdentifier(hx::kAutoLaunchKey, identifier);
}
void HXPreferences::setAutoLaunchForIdentifier(bool autoLaunch, const std::string& identifier) {
  _setApplicationObjectForKeyIdentifier(Value::boolean(autoLaunch), str(hx::kAutoLaunchKey),
                                        identifier);
}
bool HXPreferences::shouldPreventTerminationForIdentifier(const std::string& identifier) {
  return _applicationBoolForKeyIdentifier(hx::kPreventTerminationKey, identifier);
}
void HXPreferences::setPreventTerminationForIdentifier(bool prevent,
                                                       const std::string& identifier) {
  _setApplicationObjectForKeyIdentifier(Value::boolean(prevent), str(hx::kPreventTerminationKey),
                                        identifier);
}
bool HXPreferences::showActiveIndicatorForIdentifier(const std::string& identifier) {
  return _applicationBoolForKeyIdentifier(hx::kActiveIndicatorKey, identifier);
}
void HXPreferences::setShowActiveIndicatorForIdentifier(bool show, const std::string& identifier) {
  _setApplicationObjectForKeyIdentifier(Value::boolean(show), str(hx::kActiveIndicatorKey),
                                        identifier);
}
bool HXPreferences::showInactiveIndicatorForIdentifier(const std::string& identifier) {
  return _applicationBoolForKeyIdentifier(hx::kInactiveIndicatorKey, identifier);
}
void HXPreferences::setShowInactiveIndicatorForIdentifier(bool show,
                                                          const std::string& identifier) {
  _setApplicationObjectForKeyIdentifier(Value::boolean(show), str(hx::kInactiveIndicatorKey),
                                        identifier);
}

// --- Backgrounding registry ----------------------------------------------------------------

std::vector<std::string> HXPreferences::_backgroundingIdentifiers() {
  Value list = _objectForKey(hx::kBackgroundingKey);
  return list.isArray() ? identifiersOf(list) : std::vector<std::string>();
}

bool HXPreferences::isBackgroundingEnabledForIdentifier(const std::string& identifier) {
  // The agent asks this often: the list is looked through in the file, never built.
  if (synchronizeRead_) _synchronize();
  return platform_.preferences.appArrayContainsString(hx::kBackgroundingKey, identifier,
                                                      identifier_);
}

std::vector<std::string> HXPreferences::backgroundingIdentifiers() {
  return _backgroundingIdentifiers();
}

void HXPreferences::addBackgroundingIdentifier(const std::string& identifier) {
  bool added = false;
  // Read, append and write under the domain's lock, so that a concurrent change made by
  // another process between our read and our write is never lost.
  const bool succeeded = storeUpdate(hx::kBackgroundingKey, [&](const Value& current) {
    if (current.isArray() && containsIdentifier(current, identifier)) return current;
    Value list = current.isArray() ? current : Value::array();
    list.mutableArray().push_back(Value(identifier));
    added = true;
    return list;
  });
  if (!succeeded || !added) return;
  _synchronize();
  _postApplicationIsBackgroundingEnabledForIdentifier(true, identifier);
}

void HXPreferences::removeBackgroundingIdentifer(const std::string& identifier) {
  bool removed = false;
  const bool succeeded = storeUpdate(hx::kBackgroundingKey, [&](const Value& current) {
    if (!current.isArray() || !containsIdentifier(current, identifier)) return current;
    Value list = current;
    auto& items = list.mutableArray();
    std::erase(items, Value(identifier));
    removed = true;
    return list;  // an emptied list stays stored as an empty array
  });
  if (!succeeded || !removed) return;
  _synchronize();
  _postApplicationIsBackgroundingEnabledForIdentifier(false, identifier);
}

void HXPreferences::removeAllBackgroundingIdentifiers() {
  std::vector<std::string> cleared;
  const bool succeeded = storeUpdate(hx::kBackgroundingKey, [&](const Value& current) {
    if (!current.isArray() || current.arrayValue().empty()) return current;
    cleared = identifiersOf(current);
    return Value();  // remove the key
  });
  if (!succeeded || cleared.empty()) return;
  _synchronize();
  if (isSettingsHost()) {
    Value::Array list;
    for (const auto& id : cleared) list.emplace_back(id);
    post(str(hx::kApplicationBackgroundingDisabledAll), std::nullopt,
         userInfoWith(hx::kDisabledIdentifiersKey, Value(std::move(list))));
  }
}

void HXPreferences::_postApplicationIsBackgroundingEnabledForIdentifier(
    bool enabled, const std::string& identifier) {
  const std::string_view name = isHomeScreen() ? hx::kApplicationSpringboardChangedBackgrounding
                                               : hx::kApplicationBackgroundingChanged;
  post(str(name), identifier,
       userInfoWith(hx::kIsBackgroundingEnabledKey, Value::boolean(enabled)));
}
