// Domain files that another process of the user can put in place to stall or exhaust a
// reader: a FIFO, a file past the size cap, a binary plist whose shared objects expand to
// millions. Each reads as an empty domain and is moved aside intact at the next write.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "PreferenceStoreFixture.h"
#include "platform/foundation/Limits.h"
#include "platform/foundation/WriteOutcome.h"

namespace hxtest {
namespace {

using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreHostileFileTest : public PreferenceStoreFixture {
 protected:
  // Reads empty, and the first write moves the file aside unchanged.
  void expectReadsEmptyAndIsMovedAside() {
    platform::FileIdentity before;
    ASSERT_TRUE(env_.target().fileIdentity(path_, before).isOk());
    auto store = newStore();
    EXPECT_TRUE(store->copyAppValue("k", kDomain).isNone());
    store->setAppValue("new", Value::integer(1), kDomain);
    ASSERT_TRUE(store->appSynchronize(kDomain));
    platform::FileIdentity aside;
    ASSERT_TRUE(env_.target().fileIdentity(path_ + ".corrupt-1", aside).isOk());
    EXPECT_EQ(aside.inode, before.inode);
    EXPECT_EQ(aside.size, before.size);
    EXPECT_TRUE(
        isIdentical(Value(storedDomain()), Value::dictionary({{"new", Value::integer(1)}})));
  }
};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreHostileFileTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

TEST_P(PreferenceStoreHostileFileTest, AWellFormedDomainOverTheSizeCapIsNotRead) {
  const auto cap =
      static_cast<std::size_t>(platform::maximumFileSize(platform::FileKind::PreferenceDomain));
  writeRaw(path_, "<plist version=\"1.0\"><dict><key>k</key><string>" + std::string(cap, 'x') +
                      "</string></dict></plist>");
  expectReadsEmptyAndIsMovedAside();
}

TEST_P(PreferenceStoreHostileFileTest, ABinaryDomainThatExpandsToMillionsOfObjectsIsNotRead) {
  writeRaw(path_, expandingBinaryPlist());
  expectReadsEmptyAndIsMovedAside();
}

// The writer is held to the reader's caps: a file it would refuse would lose every key.
TEST_P(PreferenceStoreHostileFileTest, AWriteThatWouldPassTheReadCapStoresNothing) {
  const auto cap =
      static_cast<std::size_t>(platform::maximumFileSize(platform::FileKind::PreferenceDomain));
  auto store = newStore();
  store->setAppValue("big", Value::string(std::string(cap - 4096, 'x')), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  store->setAppValue("more", Value::string(std::string(60 * 1024, 'y')), kDomain);
  platform::WriteOutcome outcome = platform::WriteOutcome::Stored;
  EXPECT_FALSE(store->appSynchronize(kDomain, &outcome));
  EXPECT_EQ(outcome, platform::WriteOutcome::NotStored);
  const auto stored = storedDomain();
  EXPECT_EQ(stored.count("more"), 0u);
  EXPECT_EQ(stored.count("big"), 1u);
}

// A value whose shared containers stand for more objects than any domain file may hold is
// refused at once (written out, it would take time and memory exponential in its size), and a
// batch the reader would refuse is dropped rather than holding back every later write.
TEST_P(PreferenceStoreHostileFileTest, WhatCanNeverBeStoredIsRefusedAtOnceAndBlocksNothing) {
  Value doubled = Value::array({Value("x")});
  for (int i = 0; i < 40; ++i) doubled = Value::array({doubled, doubled});
  auto store = newStore();
  {
    platform::WriteOutcomeRecorder recorder;
    store->setAppValue("huge", doubled, kDomain);
    EXPECT_EQ(recorder.worst(), platform::WriteOutcome::NotStored);
    EXPECT_TRUE(
        store->updateAppValue("huge", kDomain, [&](const Value&) { return doubled; }).isNone());
  }
  const std::size_t half = 5 * 1024 * 1024;  // two of them pass the cap; one alone does not
  store->setAppValue("a", Value::string(std::string(half, 'x')), kDomain);
  store->setAppValue("b", Value::string(std::string(half, 'y')), kDomain);
  EXPECT_FALSE(store->appSynchronize(kDomain));
  store->setAppValue("small", Value::integer(1), kDomain);
  EXPECT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(storedDomain().size(), 1u);
}

TEST_P(PreferenceStoreHostileFileTest, AFifoAtTheDomainPathNeverBlocks) {
  if (GetParam() == Backing::Memory) GTEST_SKIP() << "a FIFO needs a real file system";
  ASSERT_TRUE(env_.target().createDirectories(directory_, 0700).isOk());
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  expectReadsEmptyAndIsMovedAside();
  struct stat st {};
  ASSERT_EQ(::stat((path_ + ".corrupt-1").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_P(PreferenceStoreHostileFileTest, WithoutACounterEveryWriteIsStillSeen) {
  // No space left for the change counter: stores fall back to examining the file.
  env_.failCall(Call::MapSharedCounter, 1, -1);
  auto writer = newStore();
  auto reader = newStore();
  for (int i = 0; i < 3; ++i) {
    writer->setAppValue("k", Value::integer(i), kDomain);
    ASSERT_TRUE(writer->appSynchronize(kDomain));
    ASSERT_TRUE(reader->appSynchronize(kDomain));
    EXPECT_TRUE(isIdentical(reader->copyAppValue("k", kDomain), Value::integer(i)));
  }
  EXPECT_GT(env_.count(Call::MapSharedCounter), 2);
}

}  // namespace
}  // namespace hxtest
