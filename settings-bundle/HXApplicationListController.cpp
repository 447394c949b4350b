#include "HXApplicationListController.h"

#include <cstdio>

#include "hx/HXPreferences.h"
#include "platform/foundation/Assertion.h"
#include "platform/ui/UIColor.h"

using platform::Value;

namespace {

constexpr const char* kDelegateSelector =
    "controller:backgroundingChanged:forApplicationIdentifier:";

std::string describe(const platform::Object& object, const char* name) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "<%s: %p>", name, static_cast<const void*>(&object));
  return buffer;
}

HXApplicationListController& page(platform::Object& self) {
  return platform::receiver<HXApplicationListController>(self);
}

}  // namespace

const platform::Class& HXApplicationListController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("HXApplicationListController", &PSListController::staticClass(),
                                  [] { return std::make_shared<HXApplicationListController>(); });
    using Args = platform::Arguments;
    c->addMethod("plistName", [](platform::Object&, const Args&) { return Value(plistName()); });
    c->addMethod("applicationIdentifier", [](platform::Object& self, const Args&) {
      return Value(page(self).applicationIdentifier());
    });
    c->addMethod("enableBackgrounding", [](platform::Object& self, const Args&) {
      return page(self).enableBackgrounding();
    });
    c->addMethod("setEnableBackgrounding:", [](platform::Object& self, const Args& args) {
      page(self).setEnableBackgrounding(args[0]);
      return Value();
    });
    c->addMethod("backgroundBehavior", [](platform::Object& self, const Args&) {
      return page(self).backgroundBehavior();
    });
    c->addMethod("setBackgroundBehavior:forSpecifier:",
                 [](platform::Object& self, const Args& args) {
                   page(self).setBackgroundBehaviorForSpecifier(
                       args[0], std::dynamic_pointer_cast<PSSpecifier>(args[1].objectValue()));
                   return Value();
                 });
    c->addMethod("autoLaunch",
                 [](platform::Object& self, const Args&) { return page(self).autoLaunch(); });
    c->addMethod("setAutoLaunch:", [](platform::Object& self, const Args& args) {
      page(self).setAutoLaunch(args[0]);
      return Value();
    });
    c->addMethod("preventTermination", [](platform::Object& self, const Args&) {
      return page(self).preventTermination();
    });
    c->addMethod("setPreventTermination:", [](platform::Object& self, const Args& args) {
      page(self).setPreventTermination(args[0]);
      return Value();
    });
    c->addMethod("updateBackgroundingChanged:forApplicationIdentifier:",
                 [](platform::Object& self, const Args& args) {
                   page(self).updateBackgroundingChangedForApplicationIdentifier(
                       args[0].boolValue().value_or(false), args[1].stringValue());
                   return Value();
                 });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

std::shared_ptr<HXApplicationListController>
HXApplicationListController::initWithTitleApplicationIdentifierEnabled(
    const std::string& title, const std::string& applicationIdentifier, bool enabled) {
  auto controller = std::make_shared<HXApplicationListController>();
  controller->enabled_ = enabled;
  controller->titleString_ = title;
  controller->applicationIdentifier_ = applicationIdentifier;
  controller->view()->setBackgroundColor(UIColor::whiteColor());
  controller->setTitle(title);
  return controller;
}

const std::vector<PSSpecifierPtr>& HXApplicationListController::specifiers() {
  if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget(plistName(), this);
  return *_specifiers;
}

void HXApplicationListController::willBecomeActive() {
  setTitle(titleString_);
  PSListController::willBecomeActive();
}

void HXApplicationListController::updateBackgroundingChangedForApplicationIdentifier(
    bool enabled, const std::string& identifier) {
  if (identifier != applicationIdentifier_) return;
  enabled_ = enabled;
  reloadSpecifierIDAnimated("enableBackgrounding", true);
}

Value HXApplicationListController::enableBackgrounding() {
  return Value::boolean(enabled_);
}

void HXApplicationListController::setEnableBackgrounding(const Value& value) {
  enabled_ = value.boolValue().value_or(false);
  auto delegate = delegate_.lock();
  if (!delegate || !delegate->respondsToSelector(kDelegateSelector)) return;
  auto* listener = dynamic_cast<HXApplicationListControllerDelegate*>(delegate.get());
  if (listener == nullptr) return;
  listener->controllerBackgroundingChangedForApplicationIdentifier(*this, enabled_,
                                                                   applicationIdentifier_);
}

Value HXApplicationListController::backgroundBehavior() {
  char text[16];
  std::snprintf(text, sizeof text, "%i",
                HXPreferences::sharedPreferences().backgroundingBehaviorForIdentifier(
                    applicationIdentifier_));
  return Value(std::string(text));
}

void HXApplicationListController::setBackgroundBehaviorForSpecifier(
    const Value& title, const PSSpecifierPtr& specifier) {
  Value key;
  if (specifier) {
    auto keys = specifier->titleDictionary().allKeysForObject(title);
    if (!keys.empty()) key = keys.front();
  }
  const std::int32_t behavior = key.intValue().value_or(0);
  if (static_cast<std::uint32_t>(behavior) > 2) {
    platform::handleFailure(
        {"setBackgroundBehavior:forSpecifier:", describe(*this, "HXApplicationListController"),
         "HXApplicationListController", 90, "Attempted to set unknown backgrounding behavior."});
    return;  // a handler that returns still stores nothing
  }
  HXPreferences::sharedPreferences().setBackgroundingBehaviorForIdentifier(behavior,
                                                                           applicationIdentifier_);
}

Value HXApplicationListController::autoLaunch() {
  return Value::boolean(
      HXPreferences::sharedPreferences().shouldAutoLaunchForIdentifier(applicationIdentifier_));
}

void HXApplicationListController::setAutoLaunch(const Value& value) {
  HXPreferences::sharedPreferences().setAutoLaunchForIdentifier(value.boolValue().value_or(false),
                                                                applicationIdentifier_);
}

Value HXApplicationListController::preventTermination() {
  return Value::boolean(HXPreferences::sharedPreferences().shouldPreventTerminationForIdentifier(
      applicationIdentifier_));
}

void HXApplicationListController::setPreventTermination(const Value& value) {
  HXPreferences::sharedPreferences().setPreventTerminationForIdentifier(
      value.boolValue().value_or(false), applicationIdentifier_);
}

const platform::Class& HXBehaviorItemController::staticClass() {
  static const platform::Class* cls = [] {
    auto* c = new platform::Class("HXBehaviorItemController", &PSListItemsController::staticClass(),
                                  [] { return std::make_shared<HXBehaviorItemController>(); });
    c->addMethod("plistName",
                 [](platform::Object&, const platform::Arguments&) { return Value(plistName()); });
    platform::ClassRegistry::shared().registerClass(*c);
    return c;
  }();
  return *cls;
}

const std::vector<PSSpecifierPtr>& HXBehaviorItemController::specifiers() {
  if (!_specifiers) _specifiers = loadSpecifiersFromPlistNameTarget(plistName(), this);
  return *_specifiers;
}
