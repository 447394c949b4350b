#include "HXAppearanceListController.h"

#include "hx/HXPreferences.h"

using platform::Value;

namespace {

HXAppearanceListController& page(platform::Object& self) {
  return platform::receiver<HXAppearanceListController>(self);
}

void disableSwitch(PSListController& page, const std::string& identifier) {
  if (auto specifier = page.specifierForID(identifier)) {
    specifier->setPropertyForKey(Value::boolean(false), "enabled");
  }
}

}  // namespace

const platform::Class& HXAppearanceListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("HXAppearanceListController", &PSListController::staticClass(),
                                  [] { return std::make_shared<HXAppearanceListController>(); });
    using Args = platform::Arguments;
    c->addMethod("plistName", [](platform::Object&, const Args&) { return Value(plistName()); });
    addIndicatorMethods(*c);
    c->addMethod("applicationIdentifier", [](platform::Object& self, const Args&) {
      return Value(page(self).applicationIdentifier());
    });
    c->addMethod("setApplicationIdentifier:", [](platform::Object& self, const Args& args) {
      page(self).setApplicationIdentifier(args[0].stringValue());
      return Value();
    });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

void HXAppearanceListController::specifiersLoaded() {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  preferences.beginRead();
  if (!preferences.showGlobalActiveIndicator()) disableSwitch(*this, "activeIndicatorSwitch");
  if (!preferences.showGlobalInactiveIndicator()) disableSwitch(*this, "inactiveIndicatorSwitch");
  preferences.commitRead();
}

bool HXAppearanceListController::isIndicatorShown(Indicator indicator) {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  preferences.beginRead();
  const bool shown = indicator == Indicator::Active
                         ? preferences.showActiveIndicatorForIdentifier(applicationIdentifier_) &&
                               preferences.showGlobalActiveIndicator()
                         : preferences.showInactiveIndicatorForIdentifier(applicationIdentifier_) &&
                               preferences.showGlobalInactiveIndicator();
  preferences.commitRead();
  return shown;
}

void HXAppearanceListController::setIndicatorShown(Indicator indicator, bool shown) {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  if (indicator == Indicator::Active) {
    preferences.setShowActiveIndicatorForIdentifier(shown, applicationIdentifier_);
  } else {
    preferences.setShowInactiveIndicatorForIdentifier(shown, applicationIdentifier_);
  }
}

void HXAppearanceListController::setSpecifier(PSSpecifierPtr specifier) {
  if (specifier) {
    if (auto target = specifier->target()) {
      applicationIdentifier_ = target->valueForKey("applicationIdentifier").stringValue();
    }
  }
  PSListController::setSpecifier(std::move(specifier));
}
