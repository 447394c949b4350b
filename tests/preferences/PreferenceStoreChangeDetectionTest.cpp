// A synchronising read of a domain that nobody changed reads nothing; a change by anyone
// is taken in at the next synchronisation.
#include <gtest/gtest.h>

#include <memory>

#include "PreferenceStoreFixture.h"

namespace hxtest {
namespace {

using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreChangeDetectionTest : public PreferenceStoreFixture {
 protected:
  void SetUp() override {
    auto setup = newStore();
    setup->setAppValue("k", Value::integer(1), kDomain);
    ASSERT_TRUE(setup->appSynchronize(kDomain));
  }
  // A domain of fifty keys, written by `writer` and read by `reader`.
  void shareFiftyApplications(platform::PreferenceStore& writer,
                              platform::PreferenceStore& reader) {
    for (int i = 0; i < 50; ++i) {
      writer.setAppValue("app" + std::to_string(i), Value::integer(i), kDomain);
    }
    ASSERT_TRUE(writer.appSynchronize(kDomain));
    ASSERT_TRUE(reader.appSynchronize(kDomain));
  }
  // A write that renames every key, so that the file is built whole.
  void rebuildWhole(platform::PreferenceStore& writer) {
    ASSERT_TRUE(writer.updateAppDomain(kDomain, [](const Value::Dictionary& current) {
      Value::Dictionary renamed;
      for (const auto& [key, value] : current) renamed.emplace(key + "-2", value);
      return renamed;
    }));
  }
  int reads() const {
    return env_.count(Call::ReadFile) + env_.count(Call::ReadFileHeld) +
           env_.count(Call::ReadFileAfter);
  }
};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreChangeDetectionTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

TEST_P(PreferenceStoreChangeDetectionTest, AnUnchangedDomainIsNeitherReadNorExamined) {
  auto store = newStore();
  ASSERT_TRUE(store->appSynchronize(kDomain));
  env_.resetCounts();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(store->appSynchronize(kDomain));
    EXPECT_TRUE(isIdentical(store->copyAppValue("k", kDomain), Value::integer(1)));
  }
  // Also after this store's own write: it knows what it wrote.
  store->setAppValue("k", Value::integer(2), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  env_.resetCounts();
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(store->copyAppValue("k", kDomain), Value::integer(2)));
  EXPECT_EQ(env_.totalCalls(), 0);
}

TEST_P(PreferenceStoreChangeDetectionTest, AWriteElsewhereIsReadOnceAtTheNextSynchronisation) {
  auto reader = newStore();
  auto writer = newStore();
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  writer->setAppValue("k", Value::integer(3), kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));

  env_.resetCounts();
  EXPECT_TRUE(isIdentical(reader->copyAppValue("k", kDomain), Value::integer(1)));
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(reader->copyAppValue("k", kDomain), Value::integer(3)));
  EXPECT_EQ(reads(), 1);
}

TEST_P(PreferenceStoreChangeDetectionTest, ACounterThatMovedOverAnUnchangedFileCostsNoParse) {
  auto store = newStore();
  ASSERT_TRUE(store->appSynchronize(kDomain));
  std::unique_ptr<platform::SharedCounter> counter;
  ASSERT_TRUE(env_.target().mapSharedCounter(path_ + ".counter", counter).isOk());
  counter->increment();

  env_.resetCounts();
  ASSERT_TRUE(store->appSynchronize(kDomain));
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(reads(), 0);
  EXPECT_EQ(env_.count(Call::FileIdentity), 1);
}

TEST_P(PreferenceStoreChangeDetectionTest, AReplacementTheCounterMissedIsMergedAtTheNextWrite) {
  // As left by a writer killed between its rename and its count, or an edit by hand.
  auto reader = newStore();
  auto writer = newStore();
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  writeRaw(path_, *platform::serializePropertyList(
                      Value::dictionary({{"k", Value::integer(1)}, {"edited", "by hand"}}),
                      platform::PlistFormat::Binary));

  writer->setAppValue("mine", "too", kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(storedDomain()["edited"], "by hand"));
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(reader->copyAppValue("edited", kDomain), "by hand"));
  EXPECT_TRUE(isIdentical(reader->copyAppValue("mine", kDomain), "too"));
}

TEST_P(PreferenceStoreChangeDetectionTest, AReaderTakesInOnlyThePartAWriteChangedOfTheFileItHolds) {
  auto reader = newStore();
  auto writer = newStore();
  ASSERT_NO_FATAL_FAILURE(shareFiftyApplications(*writer, *reader));

  // Rewritten from the file the reader holds: only the rest of it is read.
  writer->setAppValue("app7", "seven", kDomain);
  writer->setAppValue("new", Value::boolean(true), kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  env_.resetCounts();
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_EQ(env_.count(Call::ReadFileAfter), 1);
  EXPECT_EQ(reads(), 1);
  EXPECT_TRUE(isIdentical(Value(reader->copyAppDomain(kDomain)), Value(storedDomain())));

  // Two writes on, the last built whole: the reader holds neither file they were made from.
  writer->setAppValue("app8", "eight", kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  ASSERT_NO_FATAL_FAILURE(rebuildWhole(*writer));
  env_.resetCounts();
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_EQ(env_.count(Call::ReadFileAfter), 0);
  EXPECT_EQ(reads(), 1);
  EXPECT_TRUE(isIdentical(Value(reader->copyAppDomain(kDomain)), Value(storedDomain())));
}

TEST_P(PreferenceStoreChangeDetectionTest,
       AnEarlierWritesPartIsNeverSplicedOntoAFileCountedWithoutOne) {
  auto reader = newStore();
  auto writer = newStore();
  ASSERT_NO_FATAL_FAILURE(shareFiftyApplications(*writer, *reader));
  // A rewrite from the file the reader holds, which the reader misses.
  writer->setAppValue("app7", "seven", kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  std::unique_ptr<platform::SharedCounter> counter;
  ASSERT_TRUE(env_.target().mapSharedCounter(path_ + ".counter", counter).isOk());
  const std::uint64_t base = counter->loadBase();
  const std::uint64_t kept = counter->loadKept();
  ASSERT_NE(kept, 0u);

  // Then a file built whole and counted by a writer that records no base (an older one): the
  // earlier write's record stays in the counter beside the new tag.
  ASSERT_NO_FATAL_FAILURE(rebuildWhole(*writer));
  counter->storeBase(base, kept);
  env_.resetCounts();
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_EQ(env_.count(Call::ReadFileAfter), 0);
  EXPECT_TRUE(isIdentical(Value(reader->copyAppDomain(kDomain)), Value(storedDomain())));
}

}  // namespace
}  // namespace hxtest
