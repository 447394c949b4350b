// The application page: the behaviour list, the two launch switches, the title, and the
// behaviour setter's guard.
#include <gtest/gtest.h>

#include "BundleTestSupport.h"
#include "hx/HXPreferences.h"
#include "platform/foundation/Assertion.h"
#include "platform/foundation/Log.h"

namespace {

using hxtest::rowIndex;

class ApplicationPageTest : public testing::Test {
 protected:
  void SetUp() override {
    hxtest::resetDomain();
    ASSERT_TRUE(driver.openEntry("Halvex").isOk());
    std::int64_t weather = rowIndex(driver.currentPage(), 2, "Weather");
    ASSERT_GE(weather, 0);
    ASSERT_TRUE(driver.selectRow(2, weather).isOk());
    ASSERT_EQ(driver.currentPage().title, "Weather");
  }

  // (section, row) of the row titled `title` on the current page.
  std::pair<std::int64_t, std::int64_t> find(const std::string& title) {
    platform::SettingsPage page = driver.currentPage();
    for (std::size_t s = 0; s < page.sections.size(); ++s) {
      std::int64_t r = rowIndex(page, s, title);
      if (r >= 0) return {static_cast<std::int64_t>(s), r};
    }
    ADD_FAILURE() << "no row " << title;
    return {0, 0};
  }
  const platform::SettingsRow& row(const platform::SettingsPage& page, const std::string& title) {
    auto [s, r] = find(title);
    return page.sections[s].rows[r];
  }

  HXPreferences& store = HXPreferences::sharedPreferences();
  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
};

TEST_F(ApplicationPageTest, ChoosingEachBehaviourStoresItsValue) {
  const std::vector<std::pair<std::string, int>> choices = {
      {"Suspended", 2}, {"Unlimited", 1}, {"Native", 0}};
  EXPECT_EQ(row(driver.currentPage(), "Behavior").detail, "Native");
  for (const auto& [title, value] : choices) {
    auto [s, r] = find("Behavior");
    ASSERT_TRUE(driver.selectRow(s, r).isOk());
    platform::SettingsPage list = driver.currentPage();
    ASSERT_TRUE(list.isListItems);
    std::int64_t item = rowIndex(list, 0, title);
    ASSERT_GE(item, 0) << title;
    ASSERT_TRUE(driver.chooseItem(0, item).isOk());
    list = driver.currentPage();
    EXPECT_TRUE(list.isListItems) << "the list stays open after a choice";
    EXPECT_EQ(list.sections[0].rows[static_cast<std::size_t>(item)].accessory,
              platform::SettingsAccessory::Checkmark);
    EXPECT_EQ(store.backgroundingBehaviorForIdentifier("com.apple.weather"), value);
    ASSERT_TRUE(driver.goBack().isOk());
    platform::SettingsPage page = driver.currentPage();
    EXPECT_EQ(page.title, "Weather");
    EXPECT_EQ(row(page, "Behavior").detail, title);
  }
  // The list checks the current choice.
  auto [s, r] = find("Behavior");
  ASSERT_TRUE(driver.selectRow(s, r).isOk());
  platform::SettingsPage list = driver.currentPage();
  EXPECT_EQ(list.sections[0].rows[static_cast<std::size_t>(rowIndex(list, 0, "Native"))].accessory,
            platform::SettingsAccessory::Checkmark);
  EXPECT_EQ(
      list.sections[0].rows[static_cast<std::size_t>(rowIndex(list, 0, "Unlimited"))].accessory,
      platform::SettingsAccessory::None);
}

TEST_F(ApplicationPageTest, TheBehaviourSetterMapsTitlesAndRefusesUnknownValues) {
  auto page = driver.topPage();
  auto behavior = page->specifierForID("backgroundBehavior");
  ASSERT_TRUE(behavior);
  store.setBackgroundingBehaviorForIdentifier(1, "com.apple.weather");
  page->performSelector("setBackgroundBehavior:forSpecifier:",
                        {platform::Value("No Such Title"), platform::Value::object(behavior)});
  EXPECT_EQ(store.backgroundingBehaviorForIdentifier("com.apple.weather"), 0);

  auto odd = std::make_shared<PSSpecifier>();
  odd->setValuesTitlesShortTitles({platform::Value("3"), platform::Value("-1")},
                                  {platform::Value("Turbo"), platform::Value("Reverse")});
  store.setBackgroundingBehaviorForIdentifier(2, "com.apple.weather");
  std::vector<platform::AssertionFailure> failures;
  platform::ScopedAssertionHandler handler(
      [&](const platform::AssertionFailure& f) { failures.push_back(f); });
  for (const char* title : {"Turbo", "Reverse"}) {
    page->performSelector("setBackgroundBehavior:forSpecifier:",
                          {platform::Value(title), platform::Value::object(odd)});
  }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].file, "HXApplicationListController");
  EXPECT_EQ(failures[0].line, 90);
  EXPECT_EQ(failures[0].description, "Attempted to set unknown backgrounding behavior.");
  EXPECT_EQ(store.backgroundingBehaviorForIdentifier("com.apple.weather"), 2);
}

TEST_F(ApplicationPageTest, LaunchSwitchesReadTheStoreEveryTime) {
  platform::SettingsPage page = driver.currentPage();
  EXPECT_FALSE(row(page, "Launch Automatically").isOn);
  EXPECT_FALSE(row(page, "Prevent Termination").isOn);
  store.setAutoLaunchForIdentifier(true, "com.apple.weather");
  store.setPreventTerminationForIdentifier(true, "com.apple.weather");
  // Another writer changed them: the page shows the store's values when it shows again.
  auto [bs, br] = find("Behavior");
  ASSERT_TRUE(driver.selectRow(bs, br).isOk());
  ASSERT_TRUE(driver.goBack().isOk());
  page = driver.currentPage();
  EXPECT_TRUE(row(page, "Launch Automatically").isOn);
  EXPECT_TRUE(row(page, "Prevent Termination").isOn);

  auto [s, r] = find("Prevent Termination");
  ASSERT_TRUE(driver.setSwitch(s, r, false).isOk());
  EXPECT_FALSE(store.shouldPreventTerminationForIdentifier("com.apple.weather"));
  EXPECT_TRUE(store.shouldAutoLaunchForIdentifier("com.apple.weather"));
}

TEST_F(ApplicationPageTest, EnablingBackgroundingLogsNothing) {
  std::vector<std::string> lines;
  platform::LogSink previous =
      platform::setLogSink([&](std::string_view line) { lines.emplace_back(line); });
  ASSERT_TRUE(driver.setSwitch(0, 0, true).isOk());
  platform::setLogSink(previous);
  EXPECT_TRUE(lines.empty()) << lines.front();
  EXPECT_TRUE(store.isBackgroundingEnabledForIdentifier("com.apple.weather"));
}

TEST_F(ApplicationPageTest, BecomingActiveRestoresTheTitle) {
  auto page = driver.topPage();
  page->setTitle("Something else");
  page->willBecomeActive();
  EXPECT_EQ(page->title(), "Weather");
}

}  // namespace
