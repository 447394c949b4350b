// Writes that are not stored (a full disk, a lock held past its bound, an identifier that is
// not UTF-8) post nothing, leave the stored values in place and say so in lastWriteSucceeded().
#include <gtest/gtest.h>

#include <functional>

#include "TestPlatform.h"
#include "hx/HXPreferences.h"

using platform::Status;

namespace {

class WriteFailureTest : public testing::Test {
 protected:
  hxtest::MemoryPlatform memory;
  hxtest::ScopedIdentity identity{"com.apple.Preferences"};  // the process that posts most
  HXPreferences store{memory.platform()};
  hxtest::NotificationRecorder recorder{memory.notifications()};
  std::size_t setUpPosts = 0;

  // Runs every kind of write once; each must fail and post nothing.
  void expectEveryWriteFails() {
    const std::pair<const char*, std::function<void()>> writes[] = {
        {"add", [&] { store.addBackgroundingIdentifier("com.example.new"); }},
        {"remove", [&] { store.removeBackgroundingIdentifer("com.example.old"); }},
        {"clear", [&] { store.removeAllBackgroundingIdentifiers(); }},
        {"global setter", [&] { store.setAppSwitcherToggleEnabled(false); }},
        {"application setter", [&] { store.setAutoLaunchForIdentifier(false, "com.example.old"); }},
    };
    for (const auto& [name, write] : writes) {
      SCOPED_TRACE(name);
      write();
      EXPECT_FALSE(store.lastWriteSucceeded());
      EXPECT_EQ(recorder.seen().size(), setUpPosts);
    }
  }

  void expectStoredValuesUnchanged() {
    EXPECT_EQ(store.backgroundingIdentifiers(), std::vector<std::string>{"com.example.old"});
    EXPECT_TRUE(store.appSwitcherToggleEnabled());
    EXPECT_TRUE(store.shouldAutoLaunchForIdentifier("com.example.old"));
  }

  void SetUp() override {
    store.addBackgroundingIdentifier("com.example.old");
    store.setAppSwitcherToggleEnabled(true);
    store.setAutoLaunchForIdentifier(true, "com.example.old");
    ASSERT_TRUE(store.lastWriteSucceeded());
    ASSERT_EQ(recorder.seen().size(), 3u);
    setUpPosts = recorder.seen().size();
  }
};

TEST_F(WriteFailureTest, AFullDiskOrAHeldLockStoresNothingAndPostsNothing) {
  for (Status fault : {Status::ioError("domain: No space left on device"),
                       Status::busy("domain.lock: held for more than 2 s")}) {
    SCOPED_TRACE(fault.toString());
    if (fault.isBusy()) {
      memory.faults().lockFailure = fault;
    } else {
      memory.faults().writeFailure = fault;
    }
    expectEveryWriteFails();
    memory.faults().lockFailure = memory.faults().writeFailure = Status::ok();
    expectStoredValuesUnchanged();
  }
  // Once the fault is gone, the same write is stored and announced.
  store.addBackgroundingIdentifier("com.example.new");
  EXPECT_TRUE(store.lastWriteSucceeded());
  EXPECT_EQ(recorder.seen().size(), setUpPosts + 1);
}

TEST_F(WriteFailureTest, AnIdentifierThatIsNotUtf8IsNeitherStoredNorAnnounced) {
  const std::string invalid = "com.example.\xFF";
  store.addBackgroundingIdentifier(invalid);
  EXPECT_FALSE(store.lastWriteSucceeded());
  store.setAutoLaunchForIdentifier(true, invalid);
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_EQ(recorder.seen().size(), setUpPosts);
  expectStoredValuesUnchanged();
  // A write with nothing to change succeeds.
  store.addBackgroundingIdentifier("com.example.old");
  EXPECT_TRUE(store.lastWriteSucceeded());
}

}  // namespace

// The store's own announcement: once per stored write, naming the keys, before the system's
// notification; never for a write that stored nothing.
TEST(StoredChangeAnnouncementTest, EachStoredWriteIsAnnouncedOnceAndAFailedOneNever) {
  hxtest::MemoryPlatform memory;
  hxtest::ScopedIdentity identity{"com.apple.Preferences"};
  platform::announceStoredChanges(memory.platform().preferences, memory.notifications());
  HXPreferences store{memory.platform()};
  hxtest::NotificationRecorder recorder{memory.notifications()};

  store.setAutoLaunchForIdentifier(true, "com.example.app");
  ASSERT_EQ(recorder.seen().size(), 2u);
  const platform::Notification& announced = recorder.seen()[0];
  EXPECT_EQ(announced.name, platform::kPreferencesChangedNotification);
  EXPECT_EQ(announced.object, std::optional<std::string>("com.orlentis.halvex"));
  EXPECT_EQ(announced.userInfo["keys"].description(),
            platform::Value::array({platform::Value("com.example.app")}).description());
  EXPECT_EQ(recorder.seen()[1].name, "HXApplicationPreferencesChanged");

  store.setAutoLaunchForIdentifier(true, "com.example.app");  // stored already: nothing to tell
  EXPECT_EQ(recorder.seen().size(), 3u);
  EXPECT_EQ(recorder.seen()[2].name, "HXApplicationPreferencesChanged");

  memory.faults().writeFailure = Status::ioError("domain: No space left on device");
  store.setAutoLaunchForIdentifier(false, "com.example.app");
  EXPECT_EQ(recorder.seen().size(), 3u);
}
