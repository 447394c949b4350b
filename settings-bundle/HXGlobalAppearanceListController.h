// The appearance page for every application: the two global indicator switches, which rule
// over the per-application ones, and the preview footer showing a sample application.
// Main thread only.
#pragma once

#include <memory>
#include <string>

#include "HXIndicatorListController.h"

class HXGlobalAppearanceListController : public HXIndicatorListController {
  HX_OBJECT_CLASS()

 public:
  HXGlobalAppearanceListController() : HXIndicatorListController(plistName()) {}

  // The application whose icon the preview shows: the device's package manager.
  static constexpr const char* kSampleApplicationIdentifier = "com.orlentis.packages";

  // Its switches are never disabled; they show and write the global flags.
  static std::string plistName() { return "GlobalAppearancePreferences"; }

 protected:
  std::string footerApplicationIdentifier() const override { return kSampleApplicationIdentifier; }
  bool isIndicatorShown(Indicator indicator) override;
  void setIndicatorShown(Indicator indicator, bool shown) override;
};
