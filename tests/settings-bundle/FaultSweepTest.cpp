// Every Settings action under faults, as the browser sends it: the Nth file-system call of the
// action fails, for N = 1, 2, ... until the action runs through without reaching it. At each
// point the page (in the answer and read again later) shows what a fresh reader finds, the
// answer says stored exactly when the change is in the store, and nothing was announced
// unless it was stored.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "BundleTestSupport.h"
#include "DriverSession.h"
#include "SettingsController.h"
#include "hx/HXPreferences.h"
#include "platform/Platform.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

using platform::Value;
constexpr const char* kWeather = "com.apple.weather";

// A reader that shares nothing with this process's store: it reads the file as another
// process would.
class FreshReader {
 public:
  FreshReader()
      : store_(platform::defaultEnv(), platform::preferencesDirectory()),
        center_(platform::newLocalNotificationCenter(platform::RunLoop::main())),
        workspace_(platform::defaultEnv(), hxtest::bundleDeviceRoot()),
        platform_{platform::defaultEnv(), store_, *center_, workspace_, platform::RunLoop::main()},
        preferences_(platform_) {}
  HXPreferences* operator->() { return &preferences_; }

 private:
  platform::PreferenceStore store_;
  std::unique_ptr<platform::NotificationCenter> center_;
  platform::ApplicationWorkspace workspace_;
  platform::Platform platform_;
  HXPreferences preferences_;
};

// The row titled `title` on `page` (a page JSON object), as {section, row}; {-1, -1} if none.
std::pair<int, int> findRow(const Value& page, const std::string& title) {
  const auto& sections = page["sections"].arrayValue();
  for (std::size_t s = 0; s < sections.size(); ++s) {
    const auto& rows = sections[s]["rows"].arrayValue();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r]["title"].stringValue() == title) return {int(s), int(r)};
    }
  }
  return {-1, -1};
}

class FaultSweepTest : public testing::Test {
 protected:
  void SetUp() override { hxtest::resetDomain(); }
  void TearDown() override {
    hxtest::faultEnv().arm({});
    hxtest::faultEnv().clearFailures();
  }

  // Sends one action for the row titled `title`; the answer's status and page.
  std::pair<int, Value> act(const std::string& action, const std::string& title,
                            std::optional<bool> on = std::nullopt) {
    auto [s, r] = findRow(currentPage(), title);
    EXPECT_GE(s, 0) << "no row " << title;
    std::string text = "{\"action\":\"" + action + "\",\"section\":" + std::to_string(s) +
                       ",\"row\":" + std::to_string(r) +
                       ",\"version\":" + std::to_string(controller.version());
    if (on) text += std::string(",\"on\":") + (*on ? "true" : "false");
    settingsapp::SettingsController::Reply reply = controller.handleAction(text + "}");
    std::optional<Value> body = platform::parseJson(reply.body);
    return {reply.status, body ? (*body)["page"] : Value()};
  }
  Value currentPage() {
    controller.refresh(true);
    return platform::parseJson(controller.pageMessage()).value_or(Value())["page"];
  }
  void open(std::initializer_list<const char*> titles) {
    for (const char* title : titles) ASSERT_EQ(act("select", title).first, 200) << title;
  }

  // Flips the switch titled `title` once per fault point; `stored` reads its value afresh.
  void sweepSwitch(const std::string& title, const std::function<bool(FreshReader&)>& stored) {
    for (int nth = 1; nth < 200; ++nth) {
      SCOPED_TRACE(title + ", failing call " + std::to_string(nth));
      const Value before = currentPage();
      auto [s, r] = findRow(before, title);
      ASSERT_GE(s, 0);
      const bool want = !before["sections"][s]["rows"][r]["on"].boolValue().value_or(false);
      const std::uint64_t posts = hxtest::postCount();
      hxtest::faultEnv().arm({nth, EIO});
      auto [status, answered] = act("setSwitch", title, want);
      const bool reached = static_cast<int>(hxtest::faultEnv().trace().size()) >= nth;
      hxtest::faultEnv().arm({});
      FreshReader fresh;
      const bool now = stored(fresh);
      EXPECT_EQ(status == 200, now == want) << "the answer says stored exactly when stored";
      EXPECT_TRUE(now == want || hxtest::postCount() == posts) << "announced, not stored";
      EXPECT_EQ(answered["sections"][s]["rows"][r]["on"].boolValue(), now) << "in the answer";
      EXPECT_EQ(currentPage()["sections"][s]["rows"][r]["on"].boolValue(), now) << "read later";
      if (!reached || testing::Test::HasFailure()) {
        EXPECT_GT(nth, 1) << "the action made no file-system call";
        return;
      }
    }
    ADD_FAILURE() << title << " never ran through";
  }

  platform::SettingsDriver driver{hxtest::bundleDeviceRoot()};
  settingsapp::DriverSession session{driver, 2.0};
  settingsapp::SettingsController controller{session};
};

TEST_F(FaultSweepTest, ApplicationPageSwitches) {
  open({"Halvex", "Weather"});
  sweepSwitch("Enable Backgrounding",
              [](FreshReader& f) { return f->isBackgroundingEnabledForIdentifier(kWeather); });
  sweepSwitch("Launch Automatically",
              [](FreshReader& f) { return f->shouldAutoLaunchForIdentifier(kWeather); });
  sweepSwitch("Prevent Termination",
              [](FreshReader& f) { return f->shouldPreventTerminationForIdentifier(kWeather); });
}

TEST_F(FaultSweepTest, AppearancePageSwitches) {
  open({"Halvex", "Weather", "Appearance"});
  sweepSwitch("Active Indicator",
              [](FreshReader& f) { return f->showActiveIndicatorForIdentifier(kWeather); });
  sweepSwitch("Inactive Indicator",
              [](FreshReader& f) { return f->showInactiveIndicatorForIdentifier(kWeather); });
}

TEST_F(FaultSweepTest, GlobalAppearanceSwitches) {
  open({"Halvex", "Appearance"});
  sweepSwitch("Active Indicator", [](FreshReader& f) { return f->showGlobalActiveIndicator(); });
  sweepSwitch("Inactive Indicator",
              [](FreshReader& f) { return f->showGlobalInactiveIndicator(); });
}

TEST_F(FaultSweepTest, BehaviourChoicesAndDisableAll) {
  open({"Halvex", "Weather", "Behavior"});
  const auto checked = [](const Value& page, const char* title) {
    auto [s, r] = findRow(page, title);
    return page["sections"][s]["rows"][r]["accessory"].stringValue() == "checkmark";
  };
  for (int nth = 1; nth < 200; ++nth) {
    SCOPED_TRACE("choice, failing call " + std::to_string(nth));
    const int want = FreshReader()->backgroundingBehaviorForIdentifier(kWeather) == 1 ? 0 : 1;
    const std::uint64_t posts = hxtest::postCount();
    hxtest::faultEnv().arm({nth, EIO});
    auto [status, answered] = act("select", want == 1 ? "Unlimited" : "Native");
    const bool reached = static_cast<int>(hxtest::faultEnv().trace().size()) >= nth;
    hxtest::faultEnv().arm({});
    const int stored = FreshReader()->backgroundingBehaviorForIdentifier(kWeather);
    EXPECT_EQ(status == 200, stored == want);
    EXPECT_TRUE(stored == want || hxtest::postCount() == posts);
    EXPECT_EQ(checked(answered, "Unlimited"), stored == 1);
    EXPECT_EQ(checked(answered, "Native"), stored == 0);
    if (!reached || HasFailure()) break;
  }

  ASSERT_EQ(controller.handleAction("{\"action\":\"back\"}").status, 200);
  ASSERT_EQ(controller.handleAction("{\"action\":\"back\"}").status, 200);
  for (int nth = 1; nth < 200; ++nth) {
    SCOPED_TRACE("disable all, failing call " + std::to_string(nth));
    HXPreferences::sharedPreferences().addBackgroundingIdentifier(kWeather);
    platform::RunLoop::main().runPending();
    const std::uint64_t posts = hxtest::postCount();
    hxtest::faultEnv().arm({nth, EIO});
    auto [status, answered] = act("select", "Disable All Applications");
    const bool reached = static_cast<int>(hxtest::faultEnv().trace().size()) >= nth;
    hxtest::faultEnv().arm({});
    const std::size_t enabled = FreshReader()->backgroundingIdentifiers().size();
    EXPECT_EQ(status == 200, enabled == 0);
    EXPECT_TRUE(enabled == 0 || hxtest::postCount() == posts);
    EXPECT_EQ(answered["sections"][1]["rows"].arrayValue().size(), enabled);
    if (!reached || HasFailure()) break;
  }
}

// A switch whose change was not stored used to stay flipped on the page, in every later read.
TEST_F(FaultSweepTest, ASwitchShowsTheStoredValueWhenItsChangeWasNotStored) {
  ASSERT_TRUE(driver.openEntry("Halvex").isOk());
  ASSERT_TRUE(driver.selectRow(2, hxtest::rowIndex(driver.currentPage(), 2, "Weather")).isOk());
  hxtest::faultEnv().failCall(hxtest::PreferenceTestEnv::Call::CreateTemporaryFile, 1, -1);
  for (const char* title : {"Launch Automatically", "Prevent Termination"}) {
    auto [s, r] = findRow(currentPage(), title);
    driver.setSwitch(s, r, true);
    EXPECT_FALSE(driver.currentPage().sections[s].rows[r].isOn) << title;
  }
}

}  // namespace
