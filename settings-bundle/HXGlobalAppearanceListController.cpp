#include "HXGlobalAppearanceListController.h"

#include "hx/HXPreferences.h"

using platform::Value;

namespace {

HXGlobalAppearanceListController& page(platform::Object& self) {
  return platform::receiver<HXGlobalAppearanceListController>(self);
}

}  // namespace

const platform::Class& HXGlobalAppearanceListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c =
        new platform::Class("HXGlobalAppearanceListController", &PSListController::staticClass(),
                            [] { return std::make_shared<HXGlobalAppearanceListController>(); });
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
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

const std::vector<PSSpecifierPtr>& HXGlobalAppearanceListController::specifiers() {
  if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget(plistName(), this);
  return *_specifiers;
}

std::shared_ptr<UIView> HXGlobalAppearanceListController::tableViewViewForFooterInSection(
    UITableView& tableView, std::int64_t section) {
  auto view = PSListController::tableViewViewForFooterInSection(tableView, section);
  if (view && view->respondsToSelector("setApplicationIdentifier:")) {
    view->performSelector("setApplicationIdentifier:", {Value(kSampleApplicationIdentifier)});
  }
  return view;
}

Value HXGlobalAppearanceListController::activeIndicator() {
  return Value::boolean(HXPreferences::sharedPreferences().showGlobalActiveIndicator());
}

Value HXGlobalAppearanceListController::inactiveIndicator() {
  return Value::boolean(HXPreferences::sharedPreferences().showGlobalInactiveIndicator());
}

void HXGlobalAppearanceListController::setActiveIndicator(const Value& value) {
  HXPreferences::sharedPreferences().setShowGlobalActiveIndicator(
      value.boolValue().value_or(false));
}

void HXGlobalAppearanceListController::setInactiveIndicator(const Value& value) {
  HXPreferences::sharedPreferences().setShowGlobalInactiveIndicator(
      value.boolValue().value_or(false));
}
