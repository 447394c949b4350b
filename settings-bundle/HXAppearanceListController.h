// The appearance page of one application: its active and inactive indicator switches, locked
// off while the matching global switch is off (as the page is built), and the preview footer
// showing the application's own icon. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/settings-host/PSListController.h"

class HXAppearanceListController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  HXAppearanceListController() = default;

  static std::string plistName() { return "AppearancePreferences"; }
  // Loads "AppearancePreferences" once; then, in one read batch, disables the switch of each
  // indicator whose global switch is off. Later calls return the same list untouched.
  const std::vector<PSSpecifierPtr>& specifiers() override;
  // The base's footer view, handed this page's application identifier when it answers
  // setApplicationIdentifier:.
  std::shared_ptr<UIView> tableViewViewForFooterInSection(UITableView& tableView,
                                                          std::int64_t section) override;
  // On only when both the application's own flag and the global flag are on; the global flag
  // is not read when the application's is off.
  platform::Value activeIndicator();
  platform::Value inactiveIndicator();
  // Write the application's own flag only.
  void setActiveIndicator(const platform::Value& value);
  void setInactiveIndicator(const platform::Value& value);
  // Takes the application identifier from the link's target (the application page) before
  // the base sees the specifier.
  void setSpecifier(PSSpecifierPtr specifier) override;

  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  void setApplicationIdentifier(const std::string& identifier) {
    applicationIdentifier_ = identifier;
  }

 private:
  std::string applicationIdentifier_;
};
