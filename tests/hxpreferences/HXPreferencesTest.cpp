// Typed settings, defaults, colours, read batches and caller errors of the store.
#include <gtest/gtest.h>

#include <limits>

#include "TestPlatform.h"
#include "hx/HXPreferences.h"
#include "hx/HXPreferencesKeys.h"
#include "platform/foundation/Assertion.h"

using platform::Value;

namespace {

Value dict(std::initializer_list<std::pair<const std::string, Value>> entries) {
  return Value(Value::Dictionary(entries));
}

Value colour(Value red, Value green, Value blue, Value alpha) {
  Value::Dictionary d;
  if (!red.isNone()) d["red"] = red;
  if (!green.isNone()) d["green"] = green;
  if (!blue.isNone()) d["blue"] = blue;
  if (!alpha.isNone()) d["alpha"] = alpha;
  return Value(std::move(d));
}

Value standardDefaults() {
  return dict({{"global", dict({{"appSwitcherToggle", Value::boolean(false)},
                                {"activeIndicator", Value::boolean(true)},
                                {"inactiveIndicator", Value::boolean(true)}})},
               {"application", dict({{"backgroundBehavior", Value::integer(1)},
                                     {"autoLaunch", Value::boolean(true)},
                                     {"preventTermination", Value::boolean(false)},
                                     {"activeIndicator", Value::boolean(true)},
                                     {"inactiveIndicator", Value::boolean(false)}})}});
}

class HXPreferencesTest : public testing::Test {
 protected:
  hxtest::MemoryPlatform memory;
  hxtest::ScopedIdentity identity{"com.apple.Preferences"};

  std::unique_ptr<HXPreferences> makeStore(const Value& defaults = standardDefaults()) {
    if (!defaults.isNone()) memory.writeDefaults(defaults);
    return std::make_unique<HXPreferences>(memory.platform());
  }
};

TEST_F(HXPreferencesTest, WithoutDefaultsEverythingReadsNoOrZero) {
  auto store = makeStore(Value());
  EXPECT_FALSE(store->activeIndicatorColor());
  EXPECT_FALSE(store->inactiveIndicatorColor());
  EXPECT_TRUE(store->globalDefaults().isNone());
  EXPECT_TRUE(store->applicationDefaults().isNone());
  EXPECT_FALSE(store->showGlobalActiveIndicator());
  EXPECT_FALSE(store->appSwitcherToggleEnabled());
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.a"), 0);
  EXPECT_FALSE(store->shouldAutoLaunchForIdentifier("com.example.a"));
  EXPECT_EQ(store->identifier(), "com.orlentis.halvex");
}

TEST_F(HXPreferencesTest, DefaultsServeUntilAValueIsStoredAndAStoredNoWins) {
  auto store = makeStore();
  EXPECT_TRUE(store->showGlobalActiveIndicator());
  EXPECT_TRUE(store->shouldAutoLaunchForIdentifier("com.example.a"));
  EXPECT_TRUE(store->shouldAutoLaunchForIdentifier("com.example.b"));
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.b"), 1);

  store->setShowGlobalActiveIndicator(false);
  store->setAutoLaunchForIdentifier(false, "com.example.a");
  store->setBackgroundingBehaviorForIdentifier(0, "com.example.a");
  EXPECT_FALSE(store->showGlobalActiveIndicator());
  EXPECT_FALSE(store->shouldAutoLaunchForIdentifier("com.example.a"));
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.a"), 0);
  // The other application still reads the defaults.
  EXPECT_TRUE(store->shouldAutoLaunchForIdentifier("com.example.b"));
}

TEST_F(HXPreferencesTest, ApplicationDictionaryKeepsItsOtherKeysAndOtherApplications) {
  auto store = makeStore();
  store->setAutoLaunchForIdentifier(true, "com.example.a");
  EXPECT_EQ(store->_objectForKey("com.example.a"), dict({{"autoLaunch", Value::boolean(true)}}));
  store->setPreventTerminationForIdentifier(true, "com.example.a");
  store->setShowActiveIndicatorForIdentifier(false, "com.example.b");
  EXPECT_EQ(
      store->_objectForKey("com.example.a"),
      dict({{"autoLaunch", Value::boolean(true)}, {"preventTermination", Value::boolean(true)}}));
  EXPECT_EQ(store->_objectForKey("com.example.b"),
            dict({{"activeIndicator", Value::boolean(false)}}));
}

TEST_F(HXPreferencesTest, BehaviourIsStoredUnsignedAndReadSigned) {
  auto store = makeStore();
  store->setBackgroundingBehaviorForIdentifier(-1, "com.example.a");
  Value stored = store->_objectForKey("com.example.a")["backgroundBehavior"];
  EXPECT_EQ(stored.integerValue(), 4294967295LL);
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.a"), -1);
  store->setBackgroundingBehaviorForIdentifier(2, "com.example.a");
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.a"), 2);
}

TEST_F(HXPreferencesTest, StoredValuesOfOtherKindsConvertLeniently) {
  auto store = makeStore();
  store->_setObjectForKey(dict({{"backgroundBehavior", Value("12")},
                                {"autoLaunch", Value("YES")},
                                {"preventTermination", Value(Value::Array{Value("1")})},
                                {"activeIndicator", Value::real(0.0)}}),
                          "com.example.a");
  EXPECT_EQ(store->backgroundingBehaviorForIdentifier("com.example.a"), 12);
  EXPECT_TRUE(store->shouldAutoLaunchForIdentifier("com.example.a"));
  EXPECT_FALSE(store->shouldPreventTerminationForIdentifier("com.example.a"));  // an array is NO
  EXPECT_FALSE(store->showActiveIndicatorForIdentifier("com.example.a"));
  store->_setObjectForKey(Value("no"), "activeIndicator");
  EXPECT_FALSE(store->showGlobalActiveIndicator());
}

TEST_F(HXPreferencesTest, ReturnedContainersArePrivateCopies) {
  auto store = makeStore();
  store->setAutoLaunchForIdentifier(true, "com.example.a");
  Value copy = store->_objectForKey("com.example.a");
  copy.mutableDictionary()["autoLaunch"] = Value::boolean(false);
  EXPECT_TRUE(store->shouldAutoLaunchForIdentifier("com.example.a"));
}

TEST_F(HXPreferencesTest, TypedWritesAreAnnouncedOnlyInTheSettingsHostEvenWhenUnchanged) {
  auto store = makeStore();
  hxtest::NotificationRecorder recorder(memory.notifications());
  store->setShowGlobalInactiveIndicator(true);
  store->setShowGlobalInactiveIndicator(true);
  store->setBackgroundingBehaviorForIdentifier(2, "com.example.a");
  const auto& seen = recorder.seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].name, "HXGlobalPreferencesChanged");
  EXPECT_FALSE(seen[0].object);
  EXPECT_EQ(seen[0].userInfo, dict({{"inactiveIndicator", Value::boolean(true)}}));
  EXPECT_TRUE(seen[0].userInfo["inactiveIndicator"].isBoolean());
  EXPECT_EQ(seen[2].name, "HXApplicationPreferencesChanged");
  EXPECT_EQ(seen[2].object, std::optional<std::string>("com.example.a"));
  EXPECT_TRUE(seen[2].userInfo["backgroundBehavior"].isInteger());

  for (const char* process : {"com.apple.springboard", "com.example.other"}) {
    hxtest::ScopedIdentity other(process);
    hxtest::NotificationRecorder quiet(memory.notifications());
    store->setShowGlobalActiveIndicator(false);
    store->setAutoLaunchForIdentifier(true, "com.example.a");
    EXPECT_TRUE(quiet.seen().empty()) << process;
    EXPECT_FALSE(store->showGlobalActiveIndicator());
  }
}

TEST_F(HXPreferencesTest, ColoursAreClampedAndMissingChannelsReadZero) {
  Value defaults =
      dict({{"global",
             dict({{"activeIndicatorColor",
                    colour(Value::real(1.5), Value::real(-0.2), Value("0.5"), Value())},
                   {"inactiveIndicatorColor", colour(Value::integer(1), Value::boolean(true),
                                                     Value::data({1}), Value::real(0.25))}})}});
  auto store = makeStore(defaults);
  ASSERT_TRUE(store->activeIndicatorColor());
  EXPECT_EQ(*store->activeIndicatorColor(), platform::Color::rgba(1.0, 0.0, 0.5, 0.0));
  ASSERT_TRUE(store->inactiveIndicatorColor());
  EXPECT_EQ(*store->inactiveIndicatorColor(), platform::Color::rgba(1.0, 1.0, 0.0, 0.25));
  store->setActiveIndicatorColor(std::nullopt);
  EXPECT_FALSE(store->activeIndicatorColor());
}

TEST_F(HXPreferencesTest, ReadBatchesAreNotCountedAndHideOtherWritersUntilCommitted) {
  auto store = makeStore();
  auto other = memory.otherStore();
  EXPECT_TRUE(store->showGlobalActiveIndicator());

  store->beginRead();
  store->beginRead();
  other->setAppValue("activeIndicator", Value::boolean(false), "com.orlentis.halvex");
  ASSERT_TRUE(other->appSynchronize("com.orlentis.halvex"));
  EXPECT_TRUE(store->showGlobalActiveIndicator()) << "a batch does not synchronise again";
  store->commitRead();
  EXPECT_TRUE(store->synchronizeRead());
  EXPECT_FALSE(store->showGlobalActiveIndicator()) << "one commit ends both batches";
  store->commitRead();
  EXPECT_TRUE(store->synchronizeRead());
}

TEST_F(HXPreferencesTest, CallerErrorsReachTheAssertionHandlerWithTheirLines) {
  auto store = makeStore();
  std::vector<platform::AssertionFailure> failures;
  platform::ScopedAssertionHandler handler(
      [&](const platform::AssertionFailure& f) { failures.push_back(f); });

  store->_setObjectForKey(Value::boolean(true), "kept");
  store->_setObjectForKey(Value::null(), "kept");  // handler returns: the key is removed
  store->_setGlobalObjectForKey(Value::boolean(true), std::nullopt);
  store->_setApplicationObjectForKeyIdentifier(Value::integer(3), std::nullopt, "com.example.a");

  ASSERT_EQ(failures.size(), 3u);
  EXPECT_EQ(failures[0].file, "HXPreferences");
  EXPECT_EQ(failures[0].line, 424);
  EXPECT_EQ(failures[0].method, "_setObject:forKey:");
  EXPECT_EQ(failures[0].description.rfind("Invalid object type:", 0), 0u);
  EXPECT_EQ(failures[1].line, 288);
  EXPECT_EQ(failures[1].description, "Key cannot be nil:1");
  EXPECT_EQ(failures[2].line, 327);
  EXPECT_EQ(failures[2].description, "Key cannot be nil:3");
  EXPECT_TRUE(store->_objectForKey("kept").isNone());
  EXPECT_TRUE(store->_objectForKey("com.example.a").isNone());
}

TEST_F(HXPreferencesTest, DefaultHandlerAbandonsAnInvalidWrite) {
  auto store = makeStore();
  store->_setObjectForKey(Value("before"), "key");
  EXPECT_THROW(store->_setObjectForKey(Value::null(), "key"),
               platform::InternalInconsistencyException);
  EXPECT_EQ(store->_objectForKey("key"), Value("before"));
}

}  // namespace
