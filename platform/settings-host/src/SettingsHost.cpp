#include "platform/settings-host/SettingsHost.h"

#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/PSListItemsController.h"
#include "platform/settings-host/PSSpecifier.h"
#include "platform/settings-host/PSTableCell.h"

namespace platform {

void registerSettingsHostClasses() {
  PSSpecifier::staticClass();
  PSTableCell::staticClass();
  PSListController::staticClass();
  PSListItemsController::staticClass();
}

}  // namespace platform

[[maybe_unused]] static const platform::Class& kPSSpecifierClass = PSSpecifier::staticClass();
