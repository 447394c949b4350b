// The root page: the two sections, the road of one change in both directions, and Disable All.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "BundleTestSupport.h"
#include "hx/HXApplicationsManager.h"
#include "hx/HXPreferences.h"
#include "platform/Platform.h"
#include "platform/foundation/StringCompare.h"
#include "platform/notifications/NotificationCenter.h"

namespace {

using namespace std::chrono_literals;
using hxtest::rowIndex;
using hxtest::rowTitles;

constexpr std::size_t kEnabled = 1;
constexpr std::size_t kDisabled = 2;

// While alive, the Preferences folder is a place where nothing can be created, not even by
// root: every write fails, and what was read before stays what is stored.
class UnwritablePreferences {
 public:
  UnwritablePreferences() {
    EXPECT_EQ(std::rename(folder_.c_str(), kept_.c_str()), 0);
    EXPECT_EQ(::symlink("/proc/self/fdinfo", folder_.c_str()), 0);
  }
  ~UnwritablePreferences() {
    ::unlink(folder_.c_str());
    std::rename(kept_.c_str(), folder_.c_str());
  }

 private:
  const std::string folder_ = hxtest::bundleUserHome() + "/Library/Preferences";
  const std::string kept_ = folder_ + ".kept";
};

class RootListTest : public testing::Test {
 protected:
  void SetUp() override { hxtest::resetDomain(); }

  platform::SettingsPage openRoot() {
    EXPECT_TRUE(driver.openEntry("Halvex").isOk());
    platform::SettingsPage page = driver.currentPage();
    EXPECT_EQ(page.title, "Halvex");
    EXPECT_FALSE(page.isError) << page.error;
    return page;
  }

  // What the home screen posts after it changed an application's backgrounding.
  static void postHomeScreenChange(std::optional<std::string> object, bool enabled) {
    platform::Value::Dictionary info;
    info["isBackgroundingEnabled"] = platform::Value::boolean(enabled);
    platform::defaultPlatform().notifications.postNotification(
        "HXApplicationSpringboardChangedBackgrounding", object, platform::Value(std::move(info)));
  }

  static bool sortedByName(const std::vector<std::string>& titles) {
    return std::is_sorted(titles.begin(), titles.end(), [](const auto& a, const auto& b) {
      return platform::caseInsensitiveCompare(a, b) == platform::ComparisonResult::Ascending;
    });
  }

  HXPreferences& store = HXPreferences::sharedPreferences();
  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
};

TEST_F(RootListTest, EnablingOnTheApplicationPageMovesTheRowStoresAndAnnounces) {
  auto listener = hxtest::readyListener();
  store.addBackgroundingIdentifier("com.apple.weather");
  while (listener.readLine(300ms)) {
  }
  platform::SettingsPage root = openRoot();
  ASSERT_EQ(rowTitles(root, kEnabled), std::vector<std::string>{"Weather"});
  std::int64_t mail = rowIndex(root, kDisabled, "Mail");
  ASSERT_GE(mail, 0);
  EXPECT_EQ(root.sections[kDisabled].rows[mail].accessory, platform::SettingsAccessory::Disclosure);

  ASSERT_TRUE(driver.selectRow(kDisabled, mail).isOk());
  platform::SettingsPage app = driver.currentPage();
  EXPECT_EQ(app.title, "Mail");
  ASSERT_EQ(app.sections[0].rows[0].identifier, "enableBackgrounding");
  EXPECT_FALSE(app.sections[0].rows[0].isOn);
  ASSERT_TRUE(driver.setSwitch(0, 0, true).isOk());

  auto line = listener.readLine(10s);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("\"name\":\"HXApplicationBackgroundingChanged\""), std::string::npos);
  EXPECT_NE(line->find("\"object\":\"com.apple.mobilemail\""), std::string::npos);
  EXPECT_NE(line->find("\"isBackgroundingEnabled\":true"), std::string::npos);
  EXPECT_EQ(store.backgroundingIdentifiers(),
            (std::vector<std::string>{"com.apple.weather", "com.apple.mobilemail"}));

  ASSERT_TRUE(driver.goBack().isOk());
  root = driver.currentPage();
  EXPECT_EQ(rowTitles(root, kEnabled), (std::vector<std::string>{"Mail", "Weather"}));
  EXPECT_EQ(rowIndex(root, kDisabled, "Mail"), -1);

  // The way back.
  ASSERT_TRUE(driver.selectRow(kEnabled, 0).isOk());
  EXPECT_TRUE(driver.currentPage().sections[0].rows[0].isOn);
  ASSERT_TRUE(driver.setSwitch(0, 0, false).isOk());
  line = listener.readLine(10s);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("\"isBackgroundingEnabled\":false"), std::string::npos);
  ASSERT_TRUE(driver.goBack().isOk());
  root = driver.currentPage();
  EXPECT_EQ(rowTitles(root, kEnabled), std::vector<std::string>{"Weather"});
  std::vector<std::string> disabled = rowTitles(root, kDisabled);
  auto at = std::find(disabled.begin(), disabled.end(), "Mail");
  ASSERT_NE(at, disabled.end());
  // Placed by name among its neighbours.
  EXPECT_EQ(*(at - 1), "Lexicon Dictionary");
  EXPECT_EQ(*(at + 1), "Maps");
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.apple.weather"});
  listener.kill(SIGTERM);
}

TEST_F(RootListTest, TheHomeScreensChangeMovesSwitchAndRowAndIsNotWrittenBack) {
  std::vector<platform::Notification> ownPosts;
  auto token = platform::defaultPlatform().notifications.addObserver(
      std::string("HXApplicationBackgroundingChanged"), std::nullopt,
      [&](const platform::Notification& n) { ownPosts.push_back(n); });

  openRoot();
  std::int64_t maps = rowIndex(driver.currentPage(), kDisabled, "Maps");
  ASSERT_TRUE(driver.selectRow(kDisabled, maps).isOk());
  std::weak_ptr<PSListController> appPage = driver.topPage();
  ASSERT_FALSE(driver.currentPage().sections[0].rows[0].isOn);

  const std::uint64_t before = driver.generation();
  ASSERT_EQ(hxtest::runSpringboard({"enable", "com.apple.Maps"}), 0);
  ASSERT_TRUE(hxtest::pumpUntil([&] { return driver.currentPage().sections[0].rows[0].isOn; }));
  EXPECT_NE(driver.generation(), before);

  ASSERT_TRUE(driver.goBack().isOk());
  platform::SettingsPage root = driver.currentPage();
  EXPECT_EQ(rowTitles(root, kEnabled), std::vector<std::string>{"Maps"});
  EXPECT_EQ(rowIndex(root, kDisabled, "Maps"), -1);
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.apple.Maps"});

  // Back on the root page the application page is let go: a later change reaches only the
  // root page.
  ASSERT_EQ(hxtest::runSpringboard({"disable", "com.apple.Maps"}), 0);
  ASSERT_TRUE(hxtest::pumpUntil([&] { return rowTitles(driver.currentPage(), kEnabled).empty(); }));
  EXPECT_TRUE(appPage.expired());
  hxtest::pumpUntil([] { return false; }, 200ms);
  EXPECT_TRUE(ownPosts.empty()) << "the Settings host wrote a home-screen change back";
  EXPECT_TRUE(store.backgroundingIdentifiers().empty());
}

// A change stored without reaching the bus used to warn and exit 0: the agent never heard.
TEST_F(RootListTest, SpringboardSaysAStoredChangeNobodyWasToldOfWithItsOwnStatus) {
  auto child = hxtest::ChildProcess::program(
      HX_SPRINGBOARD_BINARY, {"enable", "com.apple.Maps"},
      {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + hxtest::bundleUserHome() + "/no-bus"}});
  EXPECT_EQ(child.wait(30s), std::optional<int>(4));
  EXPECT_TRUE(store.isBackgroundingEnabledForIdentifier("com.apple.Maps"));
  EXPECT_EQ(hxtest::runSpringboard({"enable", "com.apple.Maps"}), 0) << "nothing to change";
}

TEST_F(RootListTest, DisableAllEmptiesTheEnabledSectionAndClearsTheList) {
  store.addBackgroundingIdentifier("com.apple.weather");
  store.addBackgroundingIdentifier("com.apple.camera");
  platform::SettingsPage root = openRoot();
  EXPECT_EQ(rowTitles(root, kEnabled), (std::vector<std::string>{"Camera", "Weather"}));

  std::int64_t button = rowIndex(root, 3, "Disable All Applications");
  ASSERT_GE(button, 0);
  ASSERT_TRUE(driver.selectRow(3, button).isOk());
  root = driver.currentPage();
  EXPECT_TRUE(rowTitles(root, kEnabled).empty());
  EXPECT_TRUE(sortedByName(rowTitles(root, kDisabled)));
  EXPECT_TRUE(store._objectForKey("backgrounding").isNone());

  // Again with nothing enabled: still sorted, nothing stored.
  ASSERT_TRUE(driver.selectRow(3, button).isOk());
  EXPECT_TRUE(store._objectForKey("backgrounding").isNone());
}

TEST_F(RootListTest, AChangeThatWasNotStoredMovesNoRow) {
  store.addBackgroundingIdentifier("com.apple.weather");
  platform::SettingsPage root = openRoot();
  ASSERT_TRUE(driver.selectRow(kDisabled, rowIndex(root, kDisabled, "Maps")).isOk());
  {
    UnwritablePreferences unwritable;
    ASSERT_TRUE(driver.setSwitch(0, 0, true).isOk());
    EXPECT_FALSE(driver.currentPage().sections[0].rows[0].isOn) << "the switch shows the store";
    ASSERT_TRUE(driver.goBack().isOk());
    root = driver.currentPage();
    EXPECT_EQ(rowTitles(root, kEnabled), std::vector<std::string>{"Weather"});
    EXPECT_GE(rowIndex(root, kDisabled, "Maps"), 0);

    ASSERT_TRUE(driver.selectRow(3, rowIndex(root, 3, "Disable All Applications")).isOk());
    EXPECT_EQ(rowTitles(driver.currentPage(), kEnabled), std::vector<std::string>{"Weather"});
  }
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.apple.weather"});
}

TEST_F(RootListTest, AfterACorruptDomainIsMovedAsideTheRowsShowWhatIsStored) {
  store.addBackgroundingIdentifier("com.apple.weather");
  openRoot();
  std::ofstream(hxtest::bundleUserHome() + "/Library/Preferences/com.orlentis.halvex.plist")
      << "not a property list";
  // The home screen's next write moves the corrupt file aside and stores only its change.
  ASSERT_EQ(hxtest::runSpringboard({"enable", "com.apple.Maps"}), 0);
  ASSERT_TRUE(
      hxtest::pumpUntil([&] { return rowIndex(driver.currentPage(), kEnabled, "Maps") >= 0; }));
  EXPECT_EQ(rowTitles(driver.currentPage(), kEnabled), std::vector<std::string>{"Maps"});
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.apple.Maps"});
}

TEST_F(RootListTest, SectionsFollowTheRegistryAndUnlistedIdentifiersStayStored) {
  platform::SettingsPage root = openRoot();
  EXPECT_TRUE(root.sections[kEnabled].rows.empty());
  const std::size_t all = root.sections[kDisabled].rows.size();
  EXPECT_GE(all, 30u);

  store.addBackgroundingIdentifier("com.example.uninstalled");
  platform::Value catalogue = HXApplicationsManager().allApplications();
  for (const platform::Value& identifier : catalogue["identifiers"].arrayValue()) {
    store.addBackgroundingIdentifier(identifier.stringValue());
  }
  root = openRoot();
  EXPECT_TRUE(root.sections[kDisabled].rows.empty());
  EXPECT_EQ(root.sections[kEnabled].rows.size(), all);
  EXPECT_TRUE(sortedByName(rowTitles(root, kEnabled)));
  EXPECT_TRUE(store.isBackgroundingEnabledForIdentifier("com.example.uninstalled"));
  EXPECT_EQ(store.backgroundingIdentifiers().size(), all + 1);
}

TEST_F(RootListTest, ARepeatedOrEmptyHomeScreenChangeKeepsOneRowPerApplication) {
  openRoot();
  const auto post = postHomeScreenChange;
  const std::size_t disabledRows = driver.currentPage().sections[kDisabled].rows.size();
  post("com.apple.Maps", true);
  post("com.apple.Maps", true);
  post(std::nullopt, true);
  ASSERT_TRUE(
      hxtest::pumpUntil([&] { return !rowTitles(driver.currentPage(), kEnabled).empty(); }));
  hxtest::pumpUntil([] { return false; }, 300ms);
  platform::SettingsPage root = driver.currentPage();
  EXPECT_EQ(rowTitles(root, kEnabled), std::vector<std::string>{"Maps"});
  EXPECT_EQ(root.sections[kDisabled].rows.size(), disabledRows - 1);

  post("com.apple.Maps", false);
  post("com.apple.Maps", false);
  hxtest::pumpUntil([] { return false; }, 300ms);
  root = driver.currentPage();
  EXPECT_TRUE(rowTitles(root, kEnabled).empty());
  auto disabled = rowTitles(root, kDisabled);
  EXPECT_EQ(std::count(disabled.begin(), disabled.end(), "Maps"), 1);
  EXPECT_EQ(disabled.size(), disabledRows);
}

TEST_F(RootListTest, AfterMovesBothWaysEveryRowShowsWhatAFreshPageShows) {
  // Each application keeps its icon for the page's life: rows are told apart by it.
  std::map<std::string, const UIImage*> iconOf;
  const platform::SettingsPage opened = openRoot();
  for (std::size_t section : {kEnabled, kDisabled}) {
    for (const platform::SettingsRow& row : opened.sections[section].rows) {
      iconOf[row.title] = row.image.get();
    }
  }
  for (const char* identifier : {"com.apple.weather", "com.apple.Maps", "com.apple.camera"}) {
    store.addBackgroundingIdentifier(identifier);
    postHomeScreenChange(identifier, true);
  }
  store.removeBackgroundingIdentifer("com.apple.Maps");
  postHomeScreenChange("com.apple.Maps", false);
  ASSERT_TRUE(hxtest::pumpUntil([&] {
    return rowTitles(driver.currentPage(), kEnabled) ==
           std::vector<std::string>{"Camera", "Weather"};
  }));
  const platform::SettingsPage moved = driver.currentPage();

  platform::SettingsDriver fresh{hxtest::bundleDeviceRoot()};
  ASSERT_TRUE(fresh.openEntry("Halvex").isOk());
  const platform::SettingsPage expected = fresh.currentPage();
  for (std::size_t section : {kEnabled, kDisabled}) {
    ASSERT_EQ(rowTitles(moved, section), rowTitles(expected, section));
    for (const platform::SettingsRow& row : moved.sections[section].rows) {
      EXPECT_EQ(row.image.get(), iconOf.at(row.title)) << row.title;
    }
  }
}

TEST_F(RootListTest, EachIconIsFetchedOnceThoughItsRowIsDrawnAgain) {
  std::map<std::string, int> fetches;
  UIImage::IconSource previous = UIImage::setApplicationIconSource(
      [&](const std::string& identifier, double, double) -> std::optional<std::string> {
        ++fetches[identifier];
        return std::nullopt;
      });
  const platform::SettingsPage opened = openRoot();
  driver.currentPage();
  UIImage::setApplicationIconSource(std::move(previous));
  const std::size_t rows =
      opened.sections[kEnabled].rows.size() + opened.sections[kDisabled].rows.size();
  EXPECT_EQ(fetches.size(), rows);
  for (const auto& [identifier, count] : fetches) EXPECT_EQ(count, 1) << identifier;
}

}  // namespace
