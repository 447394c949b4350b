// The appearance pages: global switches lock the per-application ones on pages opened later,
// each page hands its application to the preview footer.
#include <gtest/gtest.h>

#include <algorithm>

#include "BundleTestSupport.h"
#include "hx/HXPreferences.h"

namespace {

using hxtest::rowIndex;

class AppearancePagesTest : public testing::Test {
 protected:
  void SetUp() override { hxtest::resetDomain(); }

  // The root page's link to the global appearance page.
  void openGlobal() {
    ASSERT_TRUE(driver.openEntry("Halvex").isOk());
    std::int64_t link = rowIndex(driver.currentPage(), 0, "Appearance");
    ASSERT_GE(link, 0);
    ASSERT_TRUE(driver.selectRow(0, link).isOk());
  }
  // Weather's page, then its appearance page.
  void openApplicationAppearance() {
    ASSERT_TRUE(driver.openEntry("Halvex").isOk());
    ASSERT_TRUE(driver.selectRow(2, rowIndex(driver.currentPage(), 2, "Weather")).isOk());
    platform::SettingsPage page = driver.currentPage();
    for (std::size_t s = 0; s < page.sections.size(); ++s) {
      std::int64_t r = rowIndex(page, s, "Appearance");
      if (r >= 0) {
        ASSERT_TRUE(driver.selectRow(static_cast<std::int64_t>(s), r).isOk());
        return;
      }
    }
    FAIL() << "no appearance link";
  }
  const platform::SettingsRow& indicator(const platform::SettingsPage& page, const char* title) {
    return page.sections[0].rows[static_cast<std::size_t>(rowIndex(page, 0, title))];
  }
  static std::size_t indicatorRows(const UIView& footer) {
    return static_cast<std::size_t>(
        std::count_if(footer.subviews().begin(), footer.subviews().end(),
                      [](const auto& v) { return v->subviews().size() == 4; }));
  }
  std::shared_ptr<UIView> footerView(const platform::SettingsPage& page) {
    for (const auto& section : page.sections) {
      if (section.footerView) return section.footerView;
    }
    return nullptr;
  }

  HXPreferences& store = HXPreferences::sharedPreferences();
  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
};

TEST_F(AppearancePagesTest, AGlobalSwitchOffLocksTheApplicationSwitchOnPagesOpenedAfter) {
  store.setShowActiveIndicatorForIdentifier(true, "com.apple.weather");
  openGlobal();
  ASSERT_TRUE(indicator(driver.currentPage(), "Active Indicator").isOn);
  ASSERT_TRUE(
      driver.setSwitch(0, rowIndex(driver.currentPage(), 0, "Active Indicator"), false).isOk());
  EXPECT_FALSE(store.showGlobalActiveIndicator());
  EXPECT_TRUE(indicator(driver.currentPage(), "Active Indicator").enabled)
      << "the global page never locks its own switches";

  openApplicationAppearance();
  platform::SettingsPage page = driver.currentPage();
  EXPECT_FALSE(indicator(page, "Active Indicator").enabled);
  EXPECT_FALSE(indicator(page, "Active Indicator").isOn);
  EXPECT_TRUE(indicator(page, "Inactive Indicator").enabled);
  EXPECT_FALSE(driver.setSwitch(0, rowIndex(page, 0, "Active Indicator"), true).isOk());
  EXPECT_TRUE(store.showActiveIndicatorForIdentifier("com.apple.weather")) << "stored value kept";

  openGlobal();
  ASSERT_TRUE(
      driver.setSwitch(0, rowIndex(driver.currentPage(), 0, "Active Indicator"), true).isOk());
  openApplicationAppearance();
  page = driver.currentPage();
  EXPECT_TRUE(indicator(page, "Active Indicator").enabled);
  EXPECT_TRUE(indicator(page, "Active Indicator").isOn);
}

TEST_F(AppearancePagesTest, ApplicationSwitchesWriteOnlyTheirOwnFlag) {
  openApplicationAppearance();
  platform::SettingsPage page = driver.currentPage();
  ASSERT_TRUE(indicator(page, "Inactive Indicator").isOn);  // the defaults say on
  ASSERT_TRUE(driver.setSwitch(0, rowIndex(page, 0, "Inactive Indicator"), false).isOk());
  EXPECT_FALSE(store.showInactiveIndicatorForIdentifier("com.apple.weather"));
  EXPECT_TRUE(store.showGlobalInactiveIndicator());
  EXPECT_TRUE(store.showInactiveIndicatorForIdentifier("com.apple.mobilemail"));
  EXPECT_FALSE(indicator(driver.currentPage(), "Inactive Indicator").isOn);
}

TEST_F(AppearancePagesTest, EachPageHandsItsApplicationToTheFooterOnce) {
  openApplicationAppearance();
  platform::SettingsPage page = driver.currentPage();
  auto footer = footerView(page);
  ASSERT_TRUE(footer);
  EXPECT_TRUE(footer->respondsToSelector("setApplicationIdentifier:"));
  driver.currentPage();
  driver.currentPage();
  EXPECT_EQ(indicatorRows(*footer), 2u) << "two rows, built once";

  openGlobal();
  auto globalFooter = footerView(driver.currentPage());
  ASSERT_TRUE(globalFooter);
  EXPECT_EQ(indicatorRows(*globalFooter), 2u);
}

}  // namespace
