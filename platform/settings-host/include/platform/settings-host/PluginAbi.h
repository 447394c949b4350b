// The one entry point a settings plug-in bundle exports. The host dlopens the bundle's
// executable, looks up hx_settings_plugin_entry, checks the API version and then calls
// registerClasses once, before it makes any page of the bundle. Plain C, so that the
// contract does not depend on the two sides agreeing on anything but this struct.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Raised whenever the struct below or the meaning of its fields changes; the host refuses a
// plug-in built against any other version.
#define HX_SETTINGS_PLUGIN_API_VERSION 1u

// The exported symbol's name, for dlsym.
#define HX_SETTINGS_PLUGIN_ENTRY_SYMBOL "hx_settings_plugin_entry"

typedef struct HXSettingsPluginInfo {
  // HX_SETTINGS_PLUGIN_API_VERSION as the plug-in was built.
  uint32_t apiVersion;
  // A short name for log lines and error pages; not owned, lives as long as the plug-in.
  const char* name;
  // Registers every runtime class that the bundle's Info.plist or plists name (the principal
  // class, detail pages, footer and cell classes) with the shared class registry. Called once,
  // on the main thread. It must not throw: the host catches and reports what it can, but a
  // registration cut short leaves the bundle's pages unusable.
  void (*registerClasses)(void);
} HXSettingsPluginInfo;

// Returns a struct that lives as long as the plug-in stays loaded (the host never unloads it).
typedef const HXSettingsPluginInfo* (*HXSettingsPluginEntry)(void);

#ifdef __cplusplus
}
#endif

// A plug-in defines exactly one function with this signature, exported:
//   extern "C" HX_SETTINGS_PLUGIN_EXPORT const HXSettingsPluginInfo*
//   hx_settings_plugin_entry(void);
#define HX_SETTINGS_PLUGIN_EXPORT __attribute__((visibility("default")))
