// What the two appearance pages share: their plist loaded once, the active and inactive
// indicator switches whose values cross the host boundary boxed, and the preview footer handed
// an application. Each page stays a runtime class of its own based on PSListController; this
// base is not one. Main thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/settings-host/PSListController.h"

class HXIndicatorListController : public PSListController {
 public:
  enum class Indicator { Active, Inactive };

  // Loads the page's plist once and lets the page adjust the new list (specifiersLoaded).
  // Later calls return the same list untouched.
  const std::vector<PSSpecifierPtr>& specifiers() override;
  // The base's footer view, handed footerApplicationIdentifier() when it answers
  // setApplicationIdentifier:. Every section is treated alike.
  std::shared_ptr<UIView> tableViewViewForFooterInSection(UITableView& tableView,
                                                          std::int64_t section) override;

  // What the switches show, boxed; no value is cached.
  platform::Value activeIndicator();
  platform::Value inactiveIndicator();
  // A boxed boolean from a switch; anything that is not one writes false.
  void setActiveIndicator(const platform::Value& value);
  void setInactiveIndicator(const platform::Value& value);

 protected:
  explicit HXIndicatorListController(std::string plistName) : plistName_(std::move(plistName)) {}

  // Binds the four switch operations of `cls`, a page's runtime class, by their selectors.
  static void addIndicatorMethods(platform::Class& cls);

  // Called once, right after the plist is loaded into the page's list.
  virtual void specifiersLoaded() {}
  virtual std::string footerApplicationIdentifier() const = 0;
  virtual bool isIndicatorShown(Indicator indicator) = 0;
  virtual void setIndicatorShown(Indicator indicator, bool shown) = 0;

 private:
  const std::string plistName_;
};
