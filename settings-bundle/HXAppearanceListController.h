// The appearance page of one application: its active and inactive indicator switches, locked
// off while the matching global switch is off (as the page is built), and the preview footer
// showing the application's own icon. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "HXIndicatorListController.h"

class HXAppearanceListController : public HXIndicatorListController {
  HX_OBJECT_CLASS()

 public:
  HXAppearanceListController() : HXIndicatorListController(plistName()) {}

  static std::string plistName() { return "AppearancePreferences"; }
  // Takes the application identifier from the link's target (the application page) before
  // the base sees the specifier.
  void setSpecifier(PSSpecifierPtr specifier) override;

  const std::string& applicationIdentifier() const { return applicationIdentifier_; }
  void setApplicationIdentifier(const std::string& identifier) {
    applicationIdentifier_ = identifier;
  }

 protected:
  // In one read batch, disables the switch of each indicator whose global switch is off.
  void specifiersLoaded() override;
  std::string footerApplicationIdentifier() const override { return applicationIdentifier_; }
  // On only when both the application's own flag and the global flag are on; the global flag
  // is not read when the application's is off.
  bool isIndicatorShown(Indicator indicator) override;
  // Writes the application's own flag only.
  void setIndicatorShown(Indicator indicator, bool shown) override;

 private:
  std::string applicationIdentifier_;
};
