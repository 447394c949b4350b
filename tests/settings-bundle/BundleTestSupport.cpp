#include "BundleTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "hx/HXPreferences.h"
#include "platform/Platform.h"
#include "platform/foundation/Process.h"
#include "platform/foundation/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/preferences/PreferenceStore.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace hxtest {
namespace {

using namespace std::chrono_literals;

// Counts the posts that went out, so that a test can tell whether a change was announced.
class CountingCenter : public platform::NotificationCenterWrapper {
 public:
  using NotificationCenterWrapper::NotificationCenterWrapper;
  void postNotification(const std::string& name, const std::optional<std::string>& object,
                        const platform::Value& userInfo) override {
    ++posts;
    NotificationCenterWrapper::postNotification(name, object, userInfo);
  }
  std::uint64_t posts = 0;
};

struct BundleWorld {
  std::unique_ptr<PrivateBus> bus;
  std::unique_ptr<TemporaryDirectory> root;
  std::unique_ptr<TemporaryDirectory> home;
  // The process's platform, over an Env that a test can make fail. Never destroyed: pages
  // and the library keep references to it until the process ends.
  FaultInjectionEnv* env = nullptr;
  CountingCenter* center = nullptr;
};

BundleWorld& world() {
  static BundleWorld* w = new BundleWorld();
  return *w;
}

// Set up before the first test, so the platform is built over the copy, the home and the bus.
class BundleEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    BundleWorld& w = world();
    w.bus = std::make_unique<PrivateBus>();
    w.root = std::make_unique<TemporaryDirectory>();
    w.home = std::make_unique<TemporaryDirectory>();
    std::filesystem::copy(HX_STAGED_DEVICE, w.root->path(),
                          std::filesystem::copy_options::recursive);
    setenv("HALVEX_ROOT", w.root->path().c_str(), 1);
    setenv("HALVEX_HOME", w.home->path().c_str(), 1);
    platform::setMainBundleIdentifier("com.apple.Preferences");
    platform::setDeviceRoot(w.root->path());
    platform::setUserHome(w.home->path());
    w.env = new FaultInjectionEnv(platform::defaultEnv());
    auto* bus = platform::newDistributedNotificationCenter(platform::RunLoop::main()).release();
    w.center = new CountingCenter(*bus);
    platform::setDefaultPlatform(*new platform::Platform{
        *w.env, *new platform::PreferenceStore(*w.env, platform::preferencesDirectory()), *w.center,
        *new platform::ApplicationWorkspace(*w.env, w.root->path()), platform::RunLoop::main()});
  }
  // The platform keeps its bus connection and paths to the end of the process, but nothing
  // uses them after the last test: stop the daemon and remove the copies so that no run
  // leaves them behind.
  void TearDown() override {
    BundleWorld& w = world();
    w.bus.reset();
    w.home.reset();
    w.root.reset();
  }
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new BundleEnvironment);

}  // namespace

const std::string& bundleDeviceRoot() {
  return world().root->path();
}
const std::string& bundleUserHome() {
  return world().home->path();
}
FaultInjectionEnv& faultEnv() {
  return *world().env;
}
std::uint64_t postCount() {
  return world().center->posts;
}

void resetDomain() {
  HXPreferences& store = HXPreferences::sharedPreferences();
  store._removeObjectForKey("backgrounding");
  for (const char* key : {"appSwitcherToggle", "activeIndicator", "inactiveIndicator"}) {
    store._removeObjectForKey(key);
  }
  for (const char* id : {"com.apple.mobilemail", "com.apple.Maps", "com.apple.weather",
                         "com.orlentis.packages", "com.apple.camera"}) {
    store._removeObjectForKey(id);
  }
  platform::RunLoop::main().runPending();
}

std::int64_t rowIndex(const platform::SettingsPage& page, std::size_t section,
                      const std::string& title) {
  if (section >= page.sections.size()) return -1;
  const auto& rows = page.sections[section].rows;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].title == title) return static_cast<std::int64_t>(i);
  }
  return -1;
}

std::vector<std::string> rowTitles(const platform::SettingsPage& page, std::size_t section) {
  std::vector<std::string> titles;
  if (section < page.sections.size()) {
    for (const auto& row : page.sections[section].rows) titles.push_back(row.title);
  }
  return titles;
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return platform::RunLoop::main().runUntil(condition, timeout);
}

ChildProcess springboard(const std::vector<std::string>& arguments) {
  return ChildProcess::program(HX_SPRINGBOARD_BINARY, arguments);
}

int runSpringboard(const std::vector<std::string>& arguments) {
  auto child = springboard(arguments);
  return child.wait(30s).value_or(-1);
}

ChildProcess readyListener() {
  ChildProcess listener = springboard({"listen"});
  HXPreferences& store = HXPreferences::sharedPreferences();
  bool heard = false;
  for (int attempt = 0; attempt < 50 && !heard; ++attempt) {
    store.setAppSwitcherToggleEnabled(true);
    platform::defaultPlatform().notifications.flush();
    heard = listener.readLine(200ms).has_value();
  }
  EXPECT_TRUE(heard) << "the listener never heard this process";
  while (listener.readLine(100ms)) {
  }
  return listener;
}

}  // namespace hxtest
