// The appearance page for every application: the two global indicator switches, which rule
// over the per-application ones, and the preview footer showing a sample application.
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include "platform/settings-host/PSListController.h"

class HXGlobalAppearanceListController : public PSListController {
  HX_OBJECT_CLASS()

 public:
  HXGlobalAppearanceListController() = default;

  // The application whose icon the preview shows: the device's package manager.
  static constexpr const char* kSampleApplicationIdentifier = "com.orlentis.packages";

  static std::string plistName() { return "GlobalAppearancePreferences"; }
  // Loads "GlobalAppearancePreferences" once; the switches are never disabled here.
  const std::vector<PSSpecifierPtr>& specifiers() override;
  // The base's footer view, handed the sample application when it answers
  // setApplicationIdentifier:.
  std::shared_ptr<UIView> tableViewViewForFooterInSection(UITableView& tableView,
                                                          std::int64_t section) override;
  platform::Value activeIndicator();
  platform::Value inactiveIndicator();
  void setActiveIndicator(const platform::Value& value);
  void setInactiveIndicator(const platform::Value& value);
};
