// The store across real processes on a private session bus: the Settings host, the
// home-screen stand-in (halvex-springboard) and writers racing on one domain.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <thread>

#include "hx/HXPreferences.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

// --- Child scenarios (each runs in its own process over the real platform) ----------------

HX_CHILD_SCENARIO("settings-set-global") {
  platform::setMainBundleIdentifier("com.apple.Preferences");
  HXPreferences::sharedPreferences().setAppSwitcherToggleEnabled(true);
  platform::defaultPlatform().notifications.flush();
  return 0;
}

HX_CHILD_SCENARIO("settings-enable") {
  platform::setMainBundleIdentifier("com.apple.Preferences");
  HXPreferences::sharedPreferences().addBackgroundingIdentifier(arguments.at(0));
  platform::defaultPlatform().notifications.flush();
  return 0;
}

HX_CHILD_SCENARIO("settings-observe") {
  platform::setMainBundleIdentifier("com.apple.Preferences");
  platform::Platform& p = platform::defaultPlatform();
  std::optional<std::string> heard;
  auto token = p.notifications.addObserver(
      std::string(hx::kApplicationSpringboardChangedBackgrounding), std::nullopt,
      [&](const platform::Notification& n) {
        // Reading on receipt must already see the change.
        bool stored = HXPreferences::sharedPreferences().isBackgroundingEnabledForIdentifier(
            n.object.value_or(""));
        heard = n.object.value_or("?") + " " +
                (n.userInfo["isBackgroundingEnabled"].booleanValue() ? "true" : "false") + " " +
                (stored ? "stored" : "missing");
      });
  std::printf("ready\n");
  std::fflush(stdout);
  if (!p.runLoop.runUntil([&] { return heard.has_value(); }, 15s)) return 1;
  std::printf("%s\n", heard->c_str());
  return 0;
}

HX_CHILD_SCENARIO("enable-many") {
  platform::setMainBundleIdentifier(arguments.at(0));
  HXPreferences& store = HXPreferences::sharedPreferences();
  int count = std::stoi(arguments.at(2));
  for (int i = 0; i < count; ++i) {
    store.addBackgroundingIdentifier(arguments.at(1) + std::to_string(i));
  }
  platform::defaultPlatform().notifications.flush();
  return 0;
}

HX_CHILD_SCENARIO("hold-lock") {
  std::unique_ptr<platform::FileLock> lock;
  if (!platform::defaultEnv().lockFile(arguments.at(0), lock).isOk()) return 1;
  std::printf("locked\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(60s);
  return 0;
}

// --- Tests ------------------------------------------------------------------------------

class StoreProcessTest : public testing::Test {
 protected:
  hxtest::PrivateBus bus;
  hxtest::TemporaryDirectory root;
  hxtest::TemporaryDirectory home;
  std::map<std::string, std::string> env{{"HALVEX_ROOT", root.path()},
                                         {"HALVEX_HOME", home.path()}};

  int runChild(const std::string& scenario, const std::vector<std::string>& args) {
    hxtest::ChildProcess child(scenario, args, env);
    return child.wait(30s).value_or(-1);
  }

  hxtest::ChildProcess springboard(const std::vector<std::string>& args) {
    return hxtest::ChildProcess::program(HX_SPRINGBOARD_BINARY, args, env);
  }
};

TEST_F(StoreProcessTest, SpringboardListenPrintsWhatTheSettingsHostPosts) {
  auto listener = springboard({"listen"});
  // Until the listener's observers are registered, posts go unheard: probe until one is.
  std::optional<std::string> line;
  for (int attempt = 0; attempt < 50 && !line; ++attempt) {
    ASSERT_EQ(runChild("settings-set-global", {}), 0);
    line = listener.readLine(200ms);
  }
  ASSERT_TRUE(line) << "the listener never heard the Settings host";
  EXPECT_NE(line->find("\"HXGlobalPreferencesChanged\""), std::string::npos) << *line;
  EXPECT_NE(line->find("\"appSwitcherToggle\":true"), std::string::npos) << *line;
  while (listener.readLine(100ms)) {
  }

  ASSERT_EQ(runChild("settings-enable", {"com.example.mail"}), 0);
  line = listener.readLine(10s);
  ASSERT_TRUE(line);
  EXPECT_NE(line->find("\"name\":\"HXApplicationBackgroundingChanged\""), std::string::npos)
      << *line;
  EXPECT_NE(line->find("\"object\":\"com.example.mail\""), std::string::npos) << *line;
  EXPECT_NE(line->find("\"isBackgroundingEnabled\":true"), std::string::npos) << *line;
  listener.kill(SIGTERM);
  EXPECT_EQ(listener.wait(10s), std::optional<int>(0));
}

TEST_F(StoreProcessTest, SpringboardEnableReachesASettingsObserverAfterItIsStored) {
  hxtest::ChildProcess observer("settings-observe", {}, env);
  ASSERT_EQ(observer.readLine(15s), std::optional<std::string>("ready"));
  auto enable = springboard({"enable", "com.example.maps"});
  ASSERT_EQ(enable.wait(30s), std::optional<int>(0));
  EXPECT_EQ(observer.readLine(15s), std::optional<std::string>("com.example.maps true stored"));

  auto status = springboard({"status"});
  auto json = status.readLine(10s);
  ASSERT_TRUE(json);
  EXPECT_NE(json->find("\"backgrounding\":[\"com.example.maps\"]"), std::string::npos) << *json;
  EXPECT_EQ(status.wait(10s), std::optional<int>(0));
}

TEST_F(StoreProcessTest, TwoProcessesEnablingAtOnceLoseNothing) {
  hxtest::ChildProcess settings("enable-many", {"com.apple.Preferences", "settings.", "200"}, env);
  hxtest::ChildProcess board("enable-many", {"com.apple.springboard", "board.", "200"}, env);
  ASSERT_EQ(settings.wait(120s), std::optional<int>(0));
  ASSERT_EQ(board.wait(120s), std::optional<int>(0));

  auto status = springboard({"status"});
  auto json = status.readLine(10s);
  ASSERT_TRUE(json);
  std::set<std::string> expected;
  for (int i = 0; i < 200; ++i) {
    EXPECT_NE(json->find("\"settings." + std::to_string(i) + "\""), std::string::npos) << i;
    EXPECT_NE(json->find("\"board." + std::to_string(i) + "\""), std::string::npos) << i;
  }
}

TEST_F(StoreProcessTest, SpringboardChangesThatAreNotStoredExitWithStatusOne) {
  const std::string preferences = home / "Library/Preferences";
  ASSERT_EQ(springboard({"enable", "com.example.kept"}).wait(30s), std::optional<int>(0));
  {
    // Another process holds the domain's lock past the wait bound.
    hxtest::ChildProcess holder("hold-lock", {preferences + "/com.orlentis.halvex.plist.lock"});
    ASSERT_EQ(holder.readLine(), std::optional<std::string>("locked"));
    EXPECT_EQ(springboard({"enable", "com.example.new"}).wait(30s), std::optional<int>(1));
  }
  // A Preferences folder that cannot be written (a file in its place, as root ignores modes).
  std::filesystem::rename(preferences, home / "aside");
  hxtest::writeFile(preferences, "");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"enable", "com.example.new"},
        {"disable", "com.example.kept"},
        {"clear"},
        {"enable", "com.example.\xFF"}}) {
    EXPECT_EQ(springboard(args).wait(30s), std::optional<int>(1)) << args[0];
  }
  std::filesystem::remove(preferences);
  std::filesystem::rename(home / "aside", preferences);
  auto status = springboard({"status"});
  EXPECT_NE(status.readLine(10s).value_or("").find("\"backgrounding\":[\"com.example.kept\"]"),
            std::string::npos);
}

TEST_F(StoreProcessTest, SpringboardNeverHangsOnAFifoOrADeviceInPlaceOfAFile) {
  std::filesystem::create_directories(home / "Library/Preferences");
  ASSERT_EQ(::mkfifo((home / "Library/Preferences/com.orlentis.halvex.plist").c_str(), 0600), 0);
  std::filesystem::create_directories(root / "Applications/Fifo.app");
  ASSERT_EQ(::mkfifo((root / "Applications/Fifo.app/Info.plist").c_str(), 0600), 0);
  std::filesystem::create_directories(root / "Applications/Zero.app");
  std::filesystem::create_symlink("/dev/zero", root / "Applications/Zero.app/Info.plist");
  for (const char* command : {"status", "apps"}) {
    auto child = springboard({command});
    EXPECT_TRUE(child.readLine(10s)) << command;
    EXPECT_EQ(child.wait(10s), std::optional<int>(0)) << command;
  }
}

TEST_F(StoreProcessTest, SpringboardRejectsBadCommandLines) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"enable"},
                                               {"enable", "a", "b"},
                                               {"frobnicate"},
                                               {"--root"},
                                               {"--bogus", "status"},
                                               {"status", "extra"}}) {
    auto child = springboard(args);
    EXPECT_EQ(child.wait(10s), std::optional<int>(2));
  }
}

}  // namespace
