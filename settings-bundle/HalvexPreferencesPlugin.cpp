// The bundle's entry point: the host loads this plug-in and asks it to register its pages.
#include "HXAppearanceFooter.h"
#include "HXAppearanceListController.h"
#include "HXApplicationListController.h"
#include "HXGlobalAppearanceListController.h"
#include "HXRootListController.h"
#include "platform/settings-host/PluginAbi.h"

namespace {

void registerClasses() {
  // Each class registers itself by name the first time it is asked for.
  HXRootListController::staticClass();
  HXApplicationListController::staticClass();
  HXBehaviorItemController::staticClass();
  HXAppearanceListController::staticClass();
  HXGlobalAppearanceListController::staticClass();
  HXAppearanceFooter::staticClass();
}

const HXSettingsPluginInfo kInfo = {HX_SETTINGS_PLUGIN_API_VERSION, "HalvexPreferences",
                                    &registerClasses};

}  // namespace

extern "C" HX_SETTINGS_PLUGIN_EXPORT const HXSettingsPluginInfo* hx_settings_plugin_entry(void) {
  return &kInfo;
}
