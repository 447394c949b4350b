// Unreadable domain files and failing writes: nothing stored is ever destroyed, and a
// change that could not be written is kept for the next synchronisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PreferenceStoreFixture.h"

namespace hxtest {
namespace {

using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreRecoveryTest : public PreferenceStoreFixture {
 protected:
  std::string validBinaryDomain() {
    auto bytes = platform::serializePropertyList(
        Value::dictionary({{"old", "value"}, {"list", Value::array({Value::integer(1)})}}),
        platform::PlistFormat::Binary);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or("");
  }
};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreRecoveryTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

TEST_P(PreferenceStoreRecoveryTest, AnUnreadableFileReadsEmptyAndIsMovedAsideBeforeTheNextWrite) {
  const std::string binary = validBinaryDomain();
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"garbage", "this is not a property list at all \x01\x02\xff"},
      {"truncated binary", binary.substr(0, binary.size() / 2)},
      {"empty file", ""},
      {"array root", R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><array><string>x</string></array></plist>)"},
      {"integer root", R"(<plist version="1.0"><integer>3</integer></plist>)"},
  };
  for (const auto& [name, contents] : cases) {
    SCOPED_TRACE(name);
    env_.target().removeFile(path_ + ".corrupt-1");
    writeRaw(path_, contents);

    auto store = newStore();
    EXPECT_TRUE(store->copyAppValue("old", kDomain).isNone());
    EXPECT_TRUE(store->appSynchronize(kDomain));
    EXPECT_EQ(readRaw(path_), contents) << "a read alone must leave the file in place";

    store->setAppValue("new", Value::integer(1), kDomain);
    ASSERT_TRUE(store->appSynchronize(kDomain));
    EXPECT_EQ(readRaw(path_ + ".corrupt-1"), contents);
    EXPECT_TRUE(
        isIdentical(Value(storedDomain()), Value::dictionary({{"new", Value::integer(1)}})));
  }
}

TEST_P(PreferenceStoreRecoveryTest, MovesAsideToTheFirstFreeNameAndKeepsEarlierOnes) {
  writeRaw(path_ + ".corrupt-1", "first");
  writeRaw(path_ + ".corrupt-3", "third");
  writeRaw(path_, "second");
  auto store = newStore();
  store->setAppValue("k", "v", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(readRaw(path_ + ".corrupt-1"), "first");
  EXPECT_EQ(readRaw(path_ + ".corrupt-2"), "second");
  EXPECT_EQ(readRaw(path_ + ".corrupt-3"), "third");
}

TEST_P(PreferenceStoreRecoveryTest, AFileThatTurnsToGarbageAfterReadingIsStillMovedAside) {
  auto store = newStore();
  store->setAppValue("k", "v", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  writeRaw(path_, "garbage");

  store->setAppValue("k", "w", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(readRaw(path_ + ".corrupt-1"), "garbage");
  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"k", "w"}})));
}

TEST_P(PreferenceStoreRecoveryTest, AnUnreadableFileThatCannotBeMovedIsNeverOverwritten) {
  writeRaw(path_, "garbage");
  auto store = newStore();
  store->setAppValue("k", "v", kDomain);
  env_.failCall(Call::RenameFile, 1, -1);
  EXPECT_FALSE(store->appSynchronize(kDomain));
  EXPECT_EQ(readRaw(path_), "garbage");
  EXPECT_EQ(env_.count(Call::CreateTemporaryFile), 0);

  env_.clearFailures();
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(readRaw(path_ + ".corrupt-1"), "garbage");
  EXPECT_TRUE(isIdentical(storedDomain()["k"], "v"));
}

TEST_P(PreferenceStoreRecoveryTest, AFailedWriteKeepsTheChangePendingForTheNextSynchronisation) {
  struct Case {
    const char* name;
    Call call;
    int nth;  // which call of that kind fails
  };
  const std::vector<Case> cases = {
      {"the write fails (full disk, failing rename)", Call::CreateTemporaryFile, 1},
      {"the lock cannot be taken", Call::LockFile, 1},
      {"the file cannot be examined", Call::FileIdentity, 1},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    env_.target().removeFile(path_);
    auto writer = newStore();
    auto reader = newStore();
    writer->setAppValue("earlier", "stored", kDomain);
    ASSERT_TRUE(writer->appSynchronize(kDomain));

    writer->setAppValue("k", Value::integer(42), kDomain);
    env_.failCall(test.call, test.nth);
    EXPECT_FALSE(writer->appSynchronize(kDomain));
    EXPECT_TRUE(isIdentical(writer->copyAppValue("k", kDomain), Value::integer(42)));
    EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"earlier", "stored"}})));
    ASSERT_TRUE(reader->appSynchronize(kDomain));
    EXPECT_TRUE(reader->copyAppValue("k", kDomain).isNone());

    env_.clearFailures();
    ASSERT_TRUE(writer->appSynchronize(kDomain));
    ASSERT_TRUE(reader->appSynchronize(kDomain));
    EXPECT_TRUE(isIdentical(reader->copyAppValue("k", kDomain), Value::integer(42)));
  }
}

TEST_P(PreferenceStoreRecoveryTest, AFileThatCannotBeReadIsNotReplaced) {
  auto other = newStore();
  other->setAppValue("theirs", "kept", kDomain);
  ASSERT_TRUE(other->appSynchronize(kDomain));
  auto store = newStore();
  store->setAppValue("mine", "later", kDomain);
  other->setAppValue("also", "kept", kDomain);
  ASSERT_TRUE(other->appSynchronize(kDomain));
  const Value theirs = Value::dictionary({{"theirs", "kept"}, {"also", "kept"}});

  // The file changed since this store read it, so it must be read again before merging.
  // Whichever way it is read: only the part the other store changed, or whole.
  env_.failCall(Call::ReadFileAfter, 1);
  env_.failCall(Call::ReadFileHeld, 1);
  EXPECT_FALSE(store->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(Value(storedDomain()), theirs));

  ASSERT_TRUE(store->appSynchronize(kDomain));
  Value::Dictionary expected = theirs.dictionaryValue();
  expected.emplace("mine", "later");
  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value(expected)));
}

TEST_P(PreferenceStoreRecoveryTest, AFailedUpdateDropsItsChangeAndReturnsWhatIsStored) {
  auto store = newStore();
  store->setAppValue("list", Value::array({"a"}), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));

  env_.failCall(Call::CreateTemporaryFile, 1);
  const Value result = store->updateAppValue("list", kDomain, [](const Value& current) {
    Value::Array items = current.arrayValue();
    items.emplace_back("lost");
    return Value(std::move(items));
  });
  EXPECT_TRUE(isIdentical(result, Value::array({"a"})));

  // Had the stale result stayed pending, it would now overwrite this append.
  auto other = newStore();
  other->updateAppValue("list", kDomain, [](const Value& current) {
    Value::Array items = current.arrayValue();
    items.emplace_back("b");
    return Value(std::move(items));
  });
  EXPECT_TRUE(store->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(storedDomain()["list"], Value::array({"a", "b"})));
  EXPECT_TRUE(isIdentical(store->copyAppValue("list", kDomain), Value::array({"a", "b"})));
}

}  // namespace
}  // namespace hxtest
