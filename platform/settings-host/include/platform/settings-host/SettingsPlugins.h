// The Settings entries of a device and the plug-in bundles behind them. An entry plist in
// <root>/Library/PreferenceLoader/Preferences (any depth) names a bundle in
// <root>/Library/PreferenceBundles; opening the entry loads the bundle's executable once per
// process, lets it register its classes (PluginAbi.h), and makes its first page. Nothing
// here throws or crashes on a bad bundle: the caller gets the reason, to show on an error
// page. Main thread only. Loaded executables stay loaded for the life of the process, since
// their classes stay registered.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/settings-host/PSSpecifier.h"

class PSListController;

namespace platform {

class Env;

struct SettingsEntry {
  std::string label;       // the entry's "label": the row title in Settings
  std::string bundleName;  // the entry's "bundle"
  std::string bundlePath;  // the bundle folder found for it
  std::string iconPath;    // the entry's "icon" inside the bundle folder; "" when none or missing
  std::string sourcePath;  // the entry plist
  // The entry item as a link specifier (every key kept), handed to the page it opens.
  PSSpecifierPtr specifier;
};

// Reads every "*.plist" under <deviceRoot>/Library/PreferenceLoader/Preferences and returns
// the entries sorted by label, case-insensitively. An entry plist that is malformed, has no
// "entry" dictionary with a text "label" and "bundle", or whose bundle is in none of
// "bundlePath" (a device path), <root>/Library/PreferenceBundles and
// <root>/System/Library/PreferenceBundles, is left out with one log line.
std::vector<SettingsEntry> readSettingsEntries(Env& env, const std::string& deviceRoot);

struct SettingsPageLoad {
  std::shared_ptr<PSListController> page;  // null exactly when `error` is set
  std::string error;                       // why the bundle or its page could not be made
};

// Loads the bundle at `bundlePath` (once per process; a failure is remembered and reported
// again) and makes its page with the class's plain initialiser: the bundle's NSPrincipalClass,
// else (when Info.plist names none) the class named `fallbackClassName`. Fails, naming the bundle,
// when the bundle has no readable Info.plist or executable, the executable does not load, lacks the
// entry symbol, or was built for another API version, or the class is unknown, has no plain
// initialiser or is not a PSListController. The executable is looked for in the bundle folder,
// then (as packages install it) in PreferenceBundles/<bundle name>/ beside the library holding
// the Settings host. The page is given the bundle path; the caller sets the specifier.
SettingsPageLoad loadSettingsBundlePage(Env& env, const std::string& bundlePath,
                                        const std::string& fallbackClassName = {});

// The folder of the plug-in bundle whose registerClasses registered the class named `name`;
// "" for a class that no plug-in brought (the host's own, or one registered by hand).
std::string bundlePathForClassName(const std::string& name);

}  // namespace platform
