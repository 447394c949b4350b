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
    c->addMethod("activeIndicator",
                 [](platform::Object& self, const Args&) { return page(self).activeIndicator(); });
    c->addMethod("inactiveIndicator", [](platform::Object& self, const Args&) {
      return page(self).inactiveIndicator();
    });
    c->addMethod("setActiveIndicator:", [](platform::Object& self, const Args& args) {
      page(self).setActiveIndicator(args[0]);
      return Value();
    });
    c->addMethod("setInactiveIndicator:", [](platform::Object& self, const Args& args) {
      page(self).setInactiveIndicator(args[0]);
      return Value();
    });
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

const std::vector<PSSpecifierPtr>& HXAppearanceListController::specifiers() {
  if (_specifiers) return *_specifiers;
  _specifiers = loadSpecifiersFromPlistNameTarget(plistName(), this);
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  preferences.beginRead();
  if (!preferences.showGlobalActiveIndicator()) disableSwitch(*this, "activeIndicatorSwitch");
  if (!preferences.showGlobalInactiveIndicator()) disableSwitch(*this, "inactiveIndicatorSwitch");
  preferences.commitRead();
  return *_specifiers;
}

std::shared_ptr<UIView> HXAppearanceListController::tableViewViewForFooterInSection(
    UITableView& tableView, std::int64_t section) {
  auto view = PSListController::tableViewViewForFooterInSection(tableView, section);
  if (view && view->respondsToSelector("setApplicationIdentifier:")) {
    view->performSelector("setApplicationIdentifier:", {Value(applicationIdentifier_)});
  }
  return view;
}

Value HXAppearanceListController::activeIndicator() {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  preferences.beginRead();
  bool shown = preferences.showActiveIndicatorForIdentifier(applicationIdentifier_) &&
               preferences.showGlobalActiveIndicator();
  preferences.commitRead();
  return Value::boolean(shown);
}

Value HXAppearanceListController::inactiveIndicator() {
  HXPreferences& preferences = HXPreferences::sharedPreferences();
  preferences.beginRead();
  bool shown = preferences.showInactiveIndicatorForIdentifier(applicationIdentifier_) &&
               preferences.showGlobalInactiveIndicator();
  preferences.commitRead();
  return Value::boolean(shown);
}

void HXAppearanceListController::setActiveIndicator(const Value& value) {
  HXPreferences::sharedPreferences().setShowActiveIndicatorForIdentifier(
      value.boolValue().value_or(false), applicationIdentifier_);
}

void HXAppearanceListController::setInactiveIndicator(const Value& value) {
  HXPreferences::sharedPreferences().setShowInactiveIndicatorForIdentifier(
      value.boolValue().value_or(false), applicationIdentifier_);
}

void HXAppearanceListController::setSpecifier(PSSpecifierPtr specifier) {
  if (specifier) {
    if (auto target = specifier->target()) {
      applicationIdentifier_ = target->valueForKey("applicationIdentifier").stringValue();
    }
  }
  PSListController::setSpecifier(std::move(specifier));
}
