// The open page follows the store whoever writes it: a change halvex-defaults stores reaches
// the page as a delta through the store's announcement alone, and a change the page does not
// show costs no new snapshot.
#include <gtest/gtest.h>

#include "BundleTestSupport.h"
#include "DriverSession.h"
#include "SettingsController.h"
#include "StoreFollower.h"
#include "platform/Platform.h"
#include "platform/foundation/Json.h"

namespace {

using namespace std::chrono_literals;
using hxtest::rowIndex;

class FollowStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    hxtest::resetDomain();
    ASSERT_TRUE(driver.openEntry("Halvex").isOk());
  }

  int defaults(const std::vector<std::string>& arguments) {
    auto child = hxtest::ChildProcess::program(HX_DEFAULTS_BINARY, arguments);
    return child.wait(30s).value_or(-1);
  }

  // Turns the loop as the host does until the page's version moves.
  bool pumpUntilNewVersion() {
    bool moved = false;
    hxtest::pumpUntil(
        [&] {
          follower.noteTopPage();
          moved = moved || controller.refresh();
          return moved;
        },
        3s);
    return moved;
  }

  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
  settingsapp::DriverSession session{driver, 2.0};
  settingsapp::SettingsController controller{session};
  settingsapp::StoreFollower follower{driver, platform::defaultPlatform()};
};

TEST_F(FollowStoreTest, AChangeByHalvexDefaultsAppearsOnTheOpenPageAsADelta) {
  ASSERT_TRUE(driver.selectRow(2, rowIndex(driver.currentPage(), 2, "Weather")).isOk());
  follower.noteTopPage();
  controller.refresh();
  const std::uint64_t seen = controller.version();

  ASSERT_EQ(defaults({"write", "com.orlentis.halvex", "com.apple.weather", "-dict-add",
                      "autoLaunch", "-bool", "YES"}),
            0);
  ASSERT_TRUE(pumpUntilNewVersion());
  const platform::Value update =
      platform::parseJson(controller.updateMessage(seen)).value_or(platform::Value());
  ASSERT_EQ(update["type"].stringValue(), "delta");
  const std::string changes = platform::toJson(update["changes"]);
  EXPECT_NE(changes.find("Launch Automatically"), std::string::npos) << changes;
  EXPECT_NE(changes.find("\"on\":true"), std::string::npos) << changes;
}

TEST_F(FollowStoreTest, AKeyTheRootPageDoesNotShowTakesNoNewSnapshot) {
  follower.noteTopPage();
  controller.refresh();
  const std::uint64_t generation = driver.generation();
  ASSERT_EQ(defaults({"write", "com.orlentis.halvex", "unrelated", "-int", "1"}), 0);
  // Long enough for the announcement (and a file check) to arrive and be handled.
  EXPECT_FALSE(pumpUntilNewVersion());
  EXPECT_EQ(driver.generation(), generation);
}

}  // namespace
