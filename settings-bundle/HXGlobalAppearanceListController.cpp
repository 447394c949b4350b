#include "HXGlobalAppearanceListController.h"

#include "hx/HXPreferences.h"

using platform::Value;

const platform::Class& HXGlobalAppearanceListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c =
        new platform::Class("HXGlobalAppearanceListController", &PSListController::staticClass(),
                            [] { return std::make_shared<HXGlobalAppearanceListController>(); });
    c->addMethod("plistName",
                 [](platform::Object&, const platform::Arguments&) { return Value(plistName()); });
    addIndicatorMethods(*c);
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

bool HXGlobalAppearanceListController::isIndicatorShown(Indicator indicator) {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  return indicator == Indicator::Active ? preferences.showGlobalActiveIndicator()
                                        : preferences.showGlobalInactiveIndicator();
}

void HXGlobalAppearanceListController::setIndicatorShown(Indicator indicator, bool shown) {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  if (indicator == Indicator::Active) {
    preferences.setShowGlobalActiveIndicator(shown);
  } else {
    preferences.setShowGlobalInactiveIndicator(shown);
  }
}
