#include "HXIndicatorListController.h"

using platform::Value;

namespace {

HXIndicatorListController& page(platform::Object& self) {
  return platform::receiver<HXIndicatorListController>(self);
}

}  // namespace

void HXIndicatorListController::addIndicatorMethods(platform::Class& cls) {
  using Args = platform::Arguments;
  cls.addMethod("activeIndicator",
                [](platform::Object& self, const Args&) { return page(self).activeIndicator(); });
  cls.addMethod("inactiveIndicator",
                [](platform::Object& self, const Args&) { return page(self).inactiveIndicator(); });
  cls.addMethod("setActiveIndicator:", [](platform::Object& self, const Args& args) {
    page(self).setActiveIndicator(args[0]);
    return Value();
  });
  cls.addMethod("setInactiveIndicator:", [](platform::Object& self, const Args& args) {
    page(self).setInactiveIndicator(args[0]);
    return Value();
  });
}

const std::vector<PSSpecifierPtr>& HXIndicatorListController::specifiers() {
  if (_specifiers) return *_specifiers;
  _specifiers = loadSpecifiersFromPlistNameTarget(plistName_, this);
  specifiersLoaded();
  return *_specifiers;
}

std::shared_ptr<UIView> HXIndicatorListController::tableViewViewForFooterInSection(
    UITableView& tableView, std::int64_t section) {
  auto view = PSListController::tableViewViewForFooterInSection(tableView, section);
  if (view && view->respondsToSelector("setApplicationIdentifier:")) {
    view->performSelector("setApplicationIdentifier:", {Value(footerApplicationIdentifier())});
  }
  return view;
}

Value HXIndicatorListController::activeIndicator() {
  return Value::boolean(isIndicatorShown(Indicator::Active));
}

Value HXIndicatorListController::inactiveIndicator() {
  return Value::boolean(isIndicatorShown(Indicator::Inactive));
}

void HXIndicatorListController::setActiveIndicator(const Value& value) {
  setIndicatorShown(Indicator::Active, value.boolValue().value_or(false));
}

void HXIndicatorListController::setInactiveIndicator(const Value& value) {
  setIndicatorShown(Indicator::Inactive, value.boolValue().value_or(false));
}
