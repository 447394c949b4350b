// HXPreferences: the one persistent settings store of a process. It reads and writes the
// current user's preference domain "com.orlentis.halvex": typed global and per-application
// settings with defaults from the resource bundle, and the list of applications with
// backgrounding enabled. Changes are announced to other processes with distributed
// notifications, depending on which process the store runs in (the Settings host
// "com.apple.Preferences", the home screen "com.apple.springboard", or another).
//
// Reads never fail: missing or odd values fall back to the defaults and convert leniently.
// A write either is stored and announced, or changes nothing and posts nothing; which of the
// two happened is kept for lastWriteSucceeded(). Caller errors go to the platform's assertion
// handler. The store starts no threads and takes no locks of its own; every read outside a
// read batch and every write synchronises the domain.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hx/Export.h"
#include "platform/foundation/Color.h"
#include "platform/foundation/Value.h"

namespace platform {
struct Platform;
class Bundle;
}  // namespace platform

class HX_EXPORT HXPreferences {
 public:
  // The process's one store, created on first use over the default platform under a
  // once-only guard; every later call, from any thread, returns the same instance. Never
  // destroyed.
  static HXPreferences& sharedPreferences();

  // A store over `platform` (tests build one over a memory platform). Finds the resource
  // bundle, reads the defaults and the indicator colours once. `platform` must outlive it.
  explicit HXPreferences(platform::Platform& platform);
  ~HXPreferences();
  HXPreferences(const HXPreferences&) = delete;
  HXPreferences& operator=(const HXPreferences&) = delete;

  // --- Properties ----------------------------------------------------------------------
  // The indicator colours parsed from the defaults at construction; none when the defaults
  // have no such colour. Setting them changes only this object; colours are never stored.
  std::optional<platform::Color> activeIndicatorColor() const { return activeIndicatorColor_; }
  void setActiveIndicatorColor(std::optional<platform::Color> color) {
    activeIndicatorColor_ = color;
  }
  std::optional<platform::Color> inactiveIndicatorColor() const { return inactiveIndicatorColor_; }
  void setInactiveIndicatorColor(std::optional<platform::Color> color) {
    inactiveIndicatorColor_ = color;
  }
  // True: every read synchronises the domain first; false inside a read batch.
  bool synchronizeRead() const { return synchronizeRead_; }
  void setSynchronizeRead(bool synchronize) { synchronizeRead_ = synchronize; }
  // The preference domain's name, "com.orlentis.halvex".
  const std::string& identifier() const { return identifier_; }
  // The resource bundle "com.orlentis.halvex.bundle"; null when its folder is missing.
  const std::shared_ptr<platform::Bundle>& resourceBundle() const { return resourceBundle_; }
  // The "global" and "application" sections of the defaults file; None when missing.
  const platform::Value& globalDefaults() const { return globalDefaults_; }
  void setGlobalDefaults(platform::Value defaults) { globalDefaults_ = std::move(defaults); }
  const platform::Value& applicationDefaults() const { return applicationDefaults_; }
  void setApplicationDefaults(platform::Value defaults) {
    applicationDefaults_ = std::move(defaults);
  }

  // --- Write status --------------------------------------------------------------------
  // Whether the last write made through this object stored what it meant to store. Writes are
  // the typed setters, addBackgroundingIdentifier, removeBackgroundingIdentifer,
  // removeAllBackgroundingIdentifiers, _setObjectForKey and _removeObjectForKey. A write that
  // had nothing to change (enabling a listed identifier, clearing an empty list) succeeds.
  // False when nothing was stored: the Preferences folder could not be created or written, the
  // disk is full, the domain's lock was not obtained within kDomainLockWaitSeconds
  // (platform/foundation/Limits.h), the domain file could not be read, or the entry cannot be
  // stored (an identifier or text that is not valid UTF-8). A failed write has posted nothing,
  // and the domain still holds what it held: reads (after synchronising) show the stored value,
  // not the one that was refused. The reason has gone to the system log. True before the first
  // write. One status per object, set by whichever thread wrote last: read it on the thread
  // that wrote, while no other thread writes through this object.
  bool lastWriteSucceeded() const { return lastWriteSucceeded_.load(std::memory_order_relaxed); }
  // How many writes through this object stored nothing, counted as lastWriteSucceeded() turns
  // false. A caller compares it before and after an operation to learn whether a write made
  // during the operation failed, even when an earlier one had failed too.
  std::uint64_t failedWriteCount() const { return failedWrites_.load(std::memory_order_relaxed); }

  // --- Read batches --------------------------------------------------------------------
  // beginRead synchronises once and stops later reads from synchronising; commitRead lets
  // them synchronise again without synchronising itself. Not counted: an inner commitRead
  // ends an outer batch too. Writes always synchronise.
  void beginRead();
  void commitRead();

  // --- Typed global settings -----------------------------------------------------------
  // Getters: the stored value, else the "global" default, converted leniently (NO when
  // neither). Setters store at once, synchronise and, in the Settings host only, post
  // "HXGlobalPreferencesChanged" with { key → value }, even when the value is unchanged, but
  // never when the value could not be stored (see lastWriteSucceeded()).
  bool appSwitcherToggleEnabled();
  void setAppSwitcherToggleEnabled(bool enabled);
  bool showGlobalActiveIndicator();
  void setShowGlobalActiveIndicator(bool show);
  bool showGlobalInactiveIndicator();
  void setShowGlobalInactiveIndicator(bool show);

  // --- Typed per-application settings --------------------------------------------------
  // Getters: the application's stored value, else the "application" default, converted
  // leniently (NO or 0 when neither). Setters change one key of the application's settings
  // dictionary atomically across processes, keep its other keys, synchronise and, in the
  // Settings host only, post "HXApplicationPreferencesChanged" with the identifier as object
  // and { key → value }; a change that was not stored posts nothing (see lastWriteSucceeded()).
  // REQUIRES: `identifier` is an application identifier (not empty).
  std::int32_t backgroundingBehaviorForIdentifier(const std::string& identifier);
  // Stored as the unsigned 32-bit reading of `behavior` (-1 is stored as 4294967295 and
  // reads back as -1).
  void setBackgroundingBehaviorForIdentifier(std::int32_t behavior, const std::string& identifier);
  bool shouldAutoLaunchForIdentifier(const std::string& identifier);
  void setAutoLaunchForIdentifier(bool autoLaunch, const std::string& identifier);
  bool shouldPreventTerminationForIdentifier(const std::string& identifier);
  void setPreventTerminationForIdentifier(bool prevent, const std::string& identifier);
  bool showActiveIndicatorForIdentifier(const std::string& identifier);
  void setShowActiveIndicatorForIdentifier(bool show, const std::string& identifier);
  bool showInactiveIndicatorForIdentifier(const std::string& identifier);
  void setShowInactiveIndicatorForIdentifier(bool show, const std::string& identifier);

  // --- Backgrounding registry ----------------------------------------------------------
  // Membership in the stored "backgrounding" list (exact, case-sensitive).
  bool isBackgroundingEnabledForIdentifier(const std::string& identifier);
  // A snapshot of the stored list, in the order the identifiers were enabled.
  std::vector<std::string> backgroundingIdentifiers();
  // Appends the identifier unless present, atomically across processes, then posts
  // "HXApplicationSpringboardChangedBackgrounding" in the home screen, or
  // "HXApplicationBackgroundingChanged" elsewhere, with { "isBackgroundingEnabled" → YES }.
  // A listed identifier changes and posts nothing; so does a change that could not be stored
  // (see lastWriteSucceeded()), here and in the two operations below.
  void addBackgroundingIdentifier(const std::string& identifier);
  // Removes every entry equal to the identifier (the name keeps its historical spelling),
  // then posts as above with NO. An unlisted identifier changes and posts nothing.
  void removeBackgroundingIdentifer(const std::string& identifier);
  // Removes the key "backgrounding"; in the Settings host posts
  // "HXApplicationBackgroundingDisabledAll" with { "disabledIdentifiers" → the cleared list }.
  // An empty list changes and posts nothing.
  void removeAllBackgroundingIdentifiers();

  // --- Storage layer (private operations of the system, reachable for tests) ------------
  // One top-level value: a private copy (mutable containers included), None when absent or
  // of a kind the store does not keep. Synchronises first unless a read batch is open.
  platform::Value _objectForKey(std::string_view key);
  // Calls `read` with what _objectForKey would return, in place.
  void _readObjectForKey(std::string_view key,
                         const std::function<void(const platform::Value& value)>& read);
  // Stores one top-level value atomically across processes and synchronises; when it cannot
  // be stored the change is dropped, not kept pending. REQUIRES: a dictionary, array, string,
  // number (booleans included), data or date; anything else goes to the assertion handler
  // ("Invalid object type:%@"), and if the handler returns, the key is removed. Returns
  // whether this write was stored (durable or not).
  bool _setObjectForKey(const platform::Value& value, std::string_view key);
  void _removeObjectForKey(std::string_view key);
  void _synchronize();
  std::optional<platform::Color> _colorForKey(std::string_view key);
  float _colorChannelForObject(const platform::Value& value);
  std::vector<std::string> _backgroundingIdentifiers();
  void _postApplicationIsBackgroundingEnabledForIdentifier(bool enabled,
                                                           const std::string& identifier);

  // Typed-settings helpers. A null key (nullopt) is a caller error ("Key cannot be nil:%@").
  platform::Value _globalObjectForKey(std::string_view key);
  bool _globalBoolForKey(std::string_view key);
  std::int32_t _globalIntForKey(std::string_view key);
  void _setGlobalObjectForKey(const platform::Value& value, std::optional<std::string> key);
  platform::Value _applicationObjectForKeyIdentifier(std::string_view key,
                                                     const std::string& identifier);
  bool _applicationBoolForKeyIdentifier(std::string_view key, const std::string& identifier);
  std::int32_t _applicationIntForKeyIdentifier(std::string_view key, const std::string& identifier);
  void _setApplicationObjectForKeyIdentifier(const platform::Value& value,
                                             std::optional<std::string> key,
                                             const std::string& identifier);
  bool _boolForObject(const platform::Value& value);
  std::int32_t _intForObject(const platform::Value& value);

  // The process kind, from the main bundle identifier (exact comparison).
  static bool isSettingsHost();
  static bool isHomeScreen();

 private:
  std::string description() const;
  void post(const std::string& name, const std::optional<std::string>& object,
            platform::Value userInfo);
  // One atomic read-modify-write of the top-level `key`; records and returns whether the
  // domain now holds what `change` produced.
  bool storeUpdate(std::string_view key,
                   const std::function<platform::Value(const platform::Value&)>& change);
  void recordWrite(bool succeeded);

  platform::Platform& platform_;
  std::optional<platform::Color> activeIndicatorColor_;
  std::optional<platform::Color> inactiveIndicatorColor_;
  bool synchronizeRead_ = true;
  std::string identifier_;
  std::shared_ptr<platform::Bundle> resourceBundle_;
  platform::Value globalDefaults_;
  platform::Value applicationDefaults_;
  std::atomic<bool> lastWriteSucceeded_{true};
  std::atomic<std::uint64_t> failedWrites_{0};
};
