// The settings page of one application: its backgrounding switch (reported to the delegate,
// which stores it), its backgrounding behaviour (chosen on HXBehaviorItemController), automatic
// launch and prevention of termination (read from and written to the shared store), and a
// link to the application's appearance page. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/PSListItemsController.h"

class HXApplicationListController;

// Told when the backgrounding switch of an application page changes. The operation is
// optional: a delegate announces it by answering respondsToSelector: for
// "controller:backgroundingChanged:forApplicationIdentifier:" (the page checks before calling).
class HXApplicationListControllerDelegate {
 public:
  virtual ~HXApplicationListControllerDelegate() = default;
  virtual void controllerBackgroundingChangedForApplicationIdentifier(
      HXApplicationListController& controller, bool enabled, const std::string& identifier) = 0;
};

class HXApplicationListController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  HXApplicationListController() = default;

  // initWithTitle:applicationIdentifier:enabled:. The page's view is loaded here (with a white
  // background) and its title set to `title`.
  static std::shared_ptr<HXApplicationListController> initWithTitleApplicationIdentifierEnabled(
      const std::string& title, const std::string& applicationIdentifier, bool enabled);

  static std::string plistName() { return "ApplicationPreferences"; }
  // Loads "ApplicationPreferences" once, with this page as target, and keeps a copy.
  const std::vector<PSSpecifierPtr>& specifiers() override;
  // Restores the title to the application's name, then lets the base run.
  void willBecomeActive() override;

  // A change made by the home screen: for this page's application only, shows the new state
  // on the switch. Writes nothing.
  void updateBackgroundingChangedForApplicationIdentifier(bool enabled,
                                                          const std::string& identifier);

  // Bound by name from "ApplicationPreferences".
  platform::Value enableBackgrounding();
  // Records the switch and reports it to the delegate, which stores it. Without a delegate
  // that answers the operation, the change stays on this page and nothing is logged.
  void setEnableBackgrounding(const platform::Value& value);
  // The stored behaviour as decimal text ("%i").
  platform::Value backgroundBehavior();
  // `title` is the chosen behaviour's title; it maps back to its value through the
  // specifier's title dictionary (no match reads 0). A value other than 0, 1 or 2 goes to the
  // assertion handler and nothing is stored.
  void setBackgroundBehaviorForSpecifier(const platform::Value& title,
                                         const PSSpecifierPtr& specifier);
  platform::Value autoLaunch();
  void setAutoLaunch(const platform::Value& value);
  platform::Value preventTermination();
  void setPreventTermination(const platform::Value& value);

  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  void setApplicationIdentifier(const std::string& identifier) {
    applicationIdentifier_ = identifier;
  }
  // The delegate is not owned; it must be an object that adopts the delegate protocol.
  std::shared_ptr<platform::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<platform::Object>& delegate) { delegate_ = delegate; }
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  const std::string& titleString() const { return titleString_; }
  void setTitleString(const std::string& title) { titleString_ = title; }

 private:
  std::string applicationIdentifier_;
  std::weak_ptr<platform::Object> delegate_;
  bool enabled_ = false;
  std::string titleString_;
};

// The list of backgrounding behaviours, opened from the behaviour row of an application
// page. Its rows are exactly the items of "BehaviorPreferences".
class HXBehaviorItemController : public PSListItemsController {
  HX_OBJECT_CLASS()

 public:
  static std::string plistName() { return "BehaviorPreferences"; }
  const std::vector<PSSpecifierPtr>& specifiers() override;
};
