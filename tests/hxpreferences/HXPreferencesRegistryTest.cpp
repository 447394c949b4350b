// The backgrounding registry: what each operation stores and posts in each kind of process.
#include <gtest/gtest.h>

#include "TestPlatform.h"
#include "hx/HXPreferences.h"

using platform::Value;

namespace {

struct Expected {
  std::vector<std::string> stored;  // the list afterwards
  bool keyPresent;
  std::vector<std::string> posted;  // notification names
};

struct ProcessCase {
  const char* identity;
  const char* changeName;  // the name of a per-application change in this process
  bool announcesClear;
};

const ProcessCase kProcesses[] = {
    {"com.apple.Preferences", "HXApplicationBackgroundingChanged", true},
    {"com.apple.springboard", "HXApplicationSpringboardChangedBackgrounding", false},
    {"com.example.third", "HXApplicationBackgroundingChanged", false},
};

class RegistryTest : public testing::TestWithParam<ProcessCase> {
 protected:
  hxtest::MemoryPlatform memory;
  hxtest::ScopedIdentity identity{GetParam().identity};
  HXPreferences store{memory.platform()};
  hxtest::NotificationRecorder recorder{memory.notifications()};

  std::vector<std::string> postedNames() {
    std::vector<std::string> names;
    for (const auto& n : recorder.seen()) names.push_back(n.name);
    return names;
  }
};

TEST_P(RegistryTest, EveryTransitionStoresAndPostsAsItsProcessDoes) {
  const ProcessCase& process = GetParam();
  const std::string change = process.changeName;

  // Disabled → add → Enabled.
  store.addBackgroundingIdentifier("com.example.a");
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.example.a"});
  ASSERT_EQ(postedNames(), std::vector<std::string>{change});
  const platform::Notification& added = recorder.seen().back();
  EXPECT_EQ(added.object, std::optional<std::string>("com.example.a"));
  ASSERT_TRUE(added.userInfo["isBackgroundingEnabled"].isBoolean());
  EXPECT_TRUE(added.userInfo["isBackgroundingEnabled"].booleanValue());
  EXPECT_EQ(added.userInfo.dictionaryValue().size(), 1u);

  // Enabled → add → Enabled: nothing stored, nothing posted.
  store.addBackgroundingIdentifier("com.example.a");
  store.addBackgroundingIdentifier("com.example.b");
  EXPECT_EQ(store.backgroundingIdentifiers(),
            (std::vector<std::string>{"com.example.a", "com.example.b"}));
  EXPECT_EQ(postedNames().size(), 2u);

  // Disabled → remove → Disabled: nothing.
  store.removeBackgroundingIdentifer("com.example.zzz");
  EXPECT_EQ(postedNames().size(), 2u);

  // Enabled → remove → Disabled.
  store.removeBackgroundingIdentifer("com.example.a");
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.example.b"});
  ASSERT_EQ(postedNames().size(), 3u);
  EXPECT_FALSE(recorder.seen().back().userInfo["isBackgroundingEnabled"].booleanValue());
  EXPECT_EQ(recorder.seen().back().name, change);

  // Clearing a non-empty list removes the key; only the Settings host announces it.
  store.addBackgroundingIdentifier("com.example.c");
  std::size_t before = postedNames().size();
  store.removeAllBackgroundingIdentifiers();
  EXPECT_TRUE(store._objectForKey("backgrounding").isNone());
  EXPECT_TRUE(store.backgroundingIdentifiers().empty());
  auto names = postedNames();
  if (process.announcesClear) {
    ASSERT_EQ(names.size(), before + 1);
    const platform::Notification& cleared = recorder.seen().back();
    EXPECT_EQ(cleared.name, "HXApplicationBackgroundingDisabledAll");
    EXPECT_FALSE(cleared.object);
    EXPECT_EQ(cleared.userInfo["disabledIdentifiers"],
              Value(Value::Array{Value("com.example.b"), Value("com.example.c")}));
  } else {
    EXPECT_EQ(names.size(), before);
  }

  // Clearing an empty list does nothing.
  store.removeAllBackgroundingIdentifiers();
  EXPECT_EQ(postedNames().size(), names.size());
}

TEST_P(RegistryTest, RemovingTheLastIdentifierLeavesAnEmptyArray) {
  store.addBackgroundingIdentifier("com.example.a");
  store.removeBackgroundingIdentifer("com.example.a");
  EXPECT_EQ(store._objectForKey("backgrounding"), Value(Value::Array{}));
  std::size_t posted = postedNames().size();
  store.removeAllBackgroundingIdentifiers();
  EXPECT_EQ(postedNames().size(), posted);
  EXPECT_EQ(store._objectForKey("backgrounding"), Value(Value::Array{}));
}

INSTANTIATE_TEST_SUITE_P(Processes, RegistryTest, testing::ValuesIn(kProcesses),
                         [](const auto& info) {
                           std::string name = info.param.identity;
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

class RegistryEdgeTest : public testing::Test {
 protected:
  hxtest::MemoryPlatform memory;
  hxtest::ScopedIdentity identity{"com.apple.Preferences"};
  HXPreferences store{memory.platform()};
};

TEST_F(RegistryEdgeTest, ARemovalDropsEveryCopyOfADuplicatedIdentifier) {
  store._setObjectForKey(Value(Value::Array{Value("a"), Value("b"), Value("a")}), "backgrounding");
  store.removeBackgroundingIdentifer("a");
  EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"b"});
}

TEST_F(RegistryEdgeTest, SnapshotsDoNotFollowLaterChanges) {
  store.addBackgroundingIdentifier("a");
  auto snapshot = store.backgroundingIdentifiers();
  store.addBackgroundingIdentifier("b");
  store.removeBackgroundingIdentifer("a");
  EXPECT_EQ(snapshot, std::vector<std::string>{"a"});
  EXPECT_TRUE(store.isBackgroundingEnabledForIdentifier("b"));
  EXPECT_FALSE(store.isBackgroundingEnabledForIdentifier("a"));
  EXPECT_FALSE(store.isBackgroundingEnabledForIdentifier("B"));
}

TEST_F(RegistryEdgeTest, AStoredValueOfAnotherKindReadsAsAnEmptyList) {
  store._setObjectForKey(Value("com.example.a"), "backgrounding");
  EXPECT_TRUE(store.backgroundingIdentifiers().empty());
  EXPECT_FALSE(store.isBackgroundingEnabledForIdentifier("com.example.a"));
}

TEST_F(RegistryEdgeTest, AnotherProcessesAdditionSurvivesOurAddition) {
  // The other process appends between our last read and our write; the read-modify-write
  // happens under the domain's lock, so both entries are kept.
  auto other = memory.otherStore();
  store.addBackgroundingIdentifier("mine-1");
  other->updateAppValue("backgrounding", "com.orlentis.halvex", [](const Value& current) {
    Value list = current;
    list.mutableArray().push_back(Value("theirs"));
    return list;
  });
  store.addBackgroundingIdentifier("mine-2");
  EXPECT_EQ(store.backgroundingIdentifiers(),
            (std::vector<std::string>{"mine-1", "theirs", "mine-2"}));
}

}  // namespace
