// Every typed setter and registry change of HXPreferences with each file-system call beneath it
// failing in turn: it says stored exactly when a fresh reader finds the change, announces only
// what was stored, and never loses another key.
#include <gtest/gtest.h>

#include <functional>

#include "FaultInjectionEnv.h"
#include "TestPlatform.h"
#include "hx/HXPreferences.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/MemoryEnv.h"

namespace {

using hxtest::FaultInjectionEnv;
using platform::Value;

constexpr const char* kDomain = "com.orlentis.halvex";

Value::Dictionary oldDomain() {
  return {{"appSwitcherToggle", Value::boolean(true)},
          {"backgrounding", Value::array({Value("com.example.old")})},
          {"com.example.old", Value::dictionary({{"autoLaunch", Value::boolean(false)}})},
          {"other", Value("kept")}};
}

struct Change {
  const char* name;
  std::function<void(Value::Dictionary&)> expect;
  std::function<void(HXPreferences&)> run;
};

std::vector<FaultInjectionEnv::Call> attempt(const Change& change, FaultInjectionEnv::Fault fault) {
  SCOPED_TRACE(std::string(change.name) + ", " + FaultInjectionEnv::describe(fault));
  auto memory = platform::MemoryEnv::create(platform::defaultEnv());
  platform::PreferenceStore(*memory, hxtest::kTestPreferences)
      .updateAppDomain(kDomain, [](const auto&) { return oldDomain(); });
  FaultInjectionEnv env(*memory);
  platform::PreferenceStore store(env, hxtest::kTestPreferences);
  auto notifications = platform::newLocalNotificationCenter(platform::RunLoop::main());
  platform::ApplicationWorkspace workspace(*memory, hxtest::kTestRoot);
  platform::Platform world{env, store, *notifications, workspace, platform::RunLoop::main()};
  hxtest::NotificationRecorder recorder(*notifications);
  HXPreferences preferences(world);

  env.arm(fault);
  change.run(preferences);
  const bool succeeded = preferences.lastWriteSucceeded();
  const auto trace = env.trace();
  env.arm({});
  if (fault.powerLoss) memory->dropUnflushed();

  Value::Dictionary expected = oldDomain();
  change.expect(expected);
  const Value found =
      platform::PreferenceStore(*memory, hxtest::kTestPreferences).copyAppDomain(kDomain);
  const bool isNew = platform::identicalPropertyLists(found, Value::dictionary(expected));
  EXPECT_TRUE(isNew || platform::identicalPropertyLists(found, Value::dictionary(oldDomain())))
      << found.description();
  // After a power loss a change that was stored but not durable may be gone again.
  if (!fault.powerLoss) {
    EXPECT_EQ(succeeded, isNew);
  }
  EXPECT_EQ(recorder.seen().size(), succeeded ? 1u : 0u) << "announced unless stored";
  if (fault.at == 0) {
    EXPECT_TRUE(succeeded);
  }
  return trace;
}

TEST(HXPreferencesFaultSweepTest, EverySetterAndRegistryChangeSaysWhatWasStored) {
  const hxtest::ScopedIdentity identity("com.apple.Preferences");
  const Change changes[] = {
      {"setAutoLaunchForIdentifier",
       [](auto& d) {
         d["com.example.old"].mutableDictionary()["autoLaunch"] = Value::boolean(true);
       },
       [](HXPreferences& p) { p.setAutoLaunchForIdentifier(true, "com.example.old"); }},
      {"setAppSwitcherToggleEnabled",
       [](auto& d) { d["appSwitcherToggle"] = Value::boolean(false); },
       [](HXPreferences& p) { p.setAppSwitcherToggleEnabled(false); }},
      {"addBackgroundingIdentifier",
       [](auto& d) { d["backgrounding"].mutableArray().push_back(Value("com.example.new")); },
       [](HXPreferences& p) { p.addBackgroundingIdentifier("com.example.new"); }},
      {"removeBackgroundingIdentifer", [](auto& d) { d["backgrounding"] = Value::array(); },
       [](HXPreferences& p) { p.removeBackgroundingIdentifer("com.example.old"); }},
      {"removeAllBackgroundingIdentifiers", [](auto& d) { d.erase("backgrounding"); },
       [](HXPreferences& p) { p.removeAllBackgroundingIdentifiers(); }},
  };
  const auto previousSink = platform::setLogSink([](std::string_view) {});
  int runs = 0;
  for (const Change& change : changes) {
    runs += FaultInjectionEnv::sweep([&](auto fault) { return attempt(change, fault); });
  }
  platform::setLogSink(previousSink);
  std::printf("%d fault runs\n", runs);
}

}  // namespace
