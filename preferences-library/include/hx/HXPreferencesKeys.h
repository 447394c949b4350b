// The domain, keys and notification names that libHXPreferences shares with the settings
// bundle and the backgrounding agent.
#pragma once

#include <string_view>

namespace hx {

inline constexpr std::string_view kDomain = "com.orlentis.halvex";
inline constexpr std::string_view kResourceBundleName = "com.orlentis.halvex.bundle";

// Top-level keys of the domain (application identifiers share the same level).
inline constexpr std::string_view kAppSwitcherToggleKey = "appSwitcherToggle";
inline constexpr std::string_view kActiveIndicatorKey = "activeIndicator";
inline constexpr std::string_view kInactiveIndicatorKey = "inactiveIndicator";
inline constexpr std::string_view kBackgroundingKey = "backgrounding";

// Keys of an application settings dictionary (plus the two indicator keys above).
inline constexpr std::string_view kBackgroundBehaviorKey = "backgroundBehavior";
inline constexpr std::string_view kAutoLaunchKey = "autoLaunch";
inline constexpr std::string_view kPreventTerminationKey = "preventTermination";

// Sections of defaults.plist.
inline constexpr std::string_view kGlobalDefaultsKey = "global";
inline constexpr std::string_view kApplicationDefaultsKey = "application";
inline constexpr std::string_view kActiveIndicatorColorKey = "activeIndicatorColor";
inline constexpr std::string_view kInactiveIndicatorColorKey = "inactiveIndicatorColor";

// Distributed notifications.
inline constexpr std::string_view kGlobalPreferencesChanged = "HXGlobalPreferencesChanged";
inline constexpr std::string_view kApplicationPreferencesChanged =
    "HXApplicationPreferencesChanged";
inline constexpr std::string_view kApplicationBackgroundingChanged =
    "HXApplicationBackgroundingChanged";
inline constexpr std::string_view kApplicationSpringboardChangedBackgrounding =
    "HXApplicationSpringboardChangedBackgrounding";
inline constexpr std::string_view kApplicationBackgroundingDisabledAll =
    "HXApplicationBackgroundingDisabledAll";
inline constexpr std::string_view kIsBackgroundingEnabledKey = "isBackgroundingEnabled";
inline constexpr std::string_view kDisabledIdentifiersKey = "disabledIdentifiers";

// Process identities.
inline constexpr std::string_view kSettingsBundleIdentifier = "com.apple.Preferences";
inline constexpr std::string_view kSpringboardBundleIdentifier = "com.apple.springboard";

}  // namespace hx
