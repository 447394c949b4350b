#include "platform/preferences/PreferenceStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "PreferenceStoreFixture.h"
#include "platform/foundation/Assertion.h"

namespace hxtest {
namespace {

using platform::PreferenceStore;
using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreTest : public PreferenceStoreFixture {};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

// Two stores on one folder behave as two processes: each keeps its own view and pending
// changes until it synchronises.
struct MergeCase {
  const char* name;
  Value::Dictionary initial;
  std::function<void(PreferenceStore& a, PreferenceStore& b, std::string_view domain)> steps;
  Value::Dictionary expected;
};

TEST_P(PreferenceStoreTest, MergesChangesPerKeyBetweenStores) {
  const std::vector<MergeCase> cases = {
      {"different keys are both kept",
       {{"kept", Value::integer(7)}},
       [](PreferenceStore& a, PreferenceStore& b, std::string_view d) {
         a.setAppValue("a", Value::integer(1), d);
         b.setAppValue("b", Value::integer(2), d);
         EXPECT_TRUE(a.appSynchronize(d));
         EXPECT_TRUE(b.appSynchronize(d));
       },
       {{"kept", Value::integer(7)}, {"a", Value::integer(1)}, {"b", Value::integer(2)}}},
      {"the later synchronisation of one key wins",
       {},
       [](PreferenceStore& a, PreferenceStore& b, std::string_view d) {
         b.setAppValue("k", "from b", d);
         a.setAppValue("k", "from a", d);
         EXPECT_TRUE(b.appSynchronize(d));
         EXPECT_TRUE(a.appSynchronize(d));
       },
       {{"k", "from a"}}},
      {"a removal reaches the file and spares the other store's key",
       {{"gone", Value::boolean(true)}, {"other", Value::integer(1)}},
       [](PreferenceStore& a, PreferenceStore& b, std::string_view d) {
         a.setAppValue("gone", Value(), d);
         b.setAppValue("other", Value::integer(2), d);
         EXPECT_TRUE(b.appSynchronize(d));
         EXPECT_TRUE(a.appSynchronize(d));
       },
       {{"other", Value::integer(2)}}},
      {"a value equal to a current view marks nothing and overrides nobody",
       {{"k", Value::integer(0)}},
       [](PreferenceStore& a, PreferenceStore& b, std::string_view d) {
         EXPECT_TRUE(b.appSynchronize(d));
         b.setAppValue("k", Value::integer(0), d);
         a.setAppValue("k", Value::integer(1), d);
         EXPECT_TRUE(a.appSynchronize(d));
         EXPECT_TRUE(b.appSynchronize(d));
       },
       {{"k", Value::integer(1)}}},
      {"a value set on a stale view is written even if the view already held it",
       {{"k", Value::integer(0)}},
       [](PreferenceStore& a, PreferenceStore& b, std::string_view d) {
         EXPECT_TRUE(b.appSynchronize(d));
         a.setAppValue("k", Value::integer(1), d);
         EXPECT_TRUE(a.appSynchronize(d));
         b.setAppValue("k", Value::integer(0), d);
         EXPECT_TRUE(b.appSynchronize(d));
       },
       {{"k", Value::integer(0)}}},
  };
  for (const MergeCase& test : cases) {
    SCOPED_TRACE(test.name);
    env_.target().removeFile(path_);
    {
      auto setup = newStore();
      for (const auto& [key, value] : test.initial) setup->setAppValue(key, value, kDomain);
      ASSERT_TRUE(setup->appSynchronize(kDomain));
    }
    auto a = newStore();
    auto b = newStore();
    test.steps(*a, *b, kDomain);

    EXPECT_TRUE(isIdentical(Value(storedDomain()), Value(test.expected)));
    for (PreferenceStore* store : {a.get(), b.get()}) {
      ASSERT_TRUE(store->appSynchronize(kDomain));
      for (const auto& [key, value] : test.expected) {
        EXPECT_TRUE(isIdentical(store->copyAppValue(key, kDomain), value)) << key;
      }
    }
  }
}

TEST_P(PreferenceStoreTest, PendingChangesStayInTheirStoreUntilBothSynchronise) {
  auto a = newStore();
  auto b = newStore();
  EXPECT_TRUE(b.get()->copyAppValue("k", kDomain).isNone());

  a->setAppValue("k", "pending", kDomain);
  EXPECT_TRUE(isIdentical(a->copyAppValue("k", kDomain), "pending"));
  ASSERT_TRUE(b->appSynchronize(kDomain));
  EXPECT_TRUE(b->copyAppValue("k", kDomain).isNone()) << "seen before it was written";

  ASSERT_TRUE(a->appSynchronize(kDomain));
  EXPECT_TRUE(b->copyAppValue("k", kDomain).isNone()) << "seen without synchronising";
  ASSERT_TRUE(b->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(b->copyAppValue("k", kDomain), "pending"));
}

TEST_P(PreferenceStoreTest, SynchronisingWithNothingThatDiffersWritesNothing) {
  const Value array = Value::array({Value::integer(1), "two"});
  struct Case {
    const char* name;
    std::function<void(PreferenceStore&)> change;
  };
  const std::vector<Case> cases = {
      {"the same scalar",
       [](PreferenceStore& s) { s.setAppValue("n", Value::integer(5), kDomain); }},
      {"an equal container", [&](PreferenceStore& s) { s.setAppValue("list", array, kDomain); }},
      {"changed and changed back",
       [](PreferenceStore& s) {
         s.setAppValue("n", Value::integer(6), kDomain);
         s.setAppValue("n", Value::integer(5), kDomain);
       }},
      {"removing an absent key",
       [](PreferenceStore& s) { s.setAppValue("absent", Value(), kDomain); }},
  };
  {
    auto setup = newStore();
    setup->setAppValue("n", Value::integer(5), kDomain);
    setup->setAppValue("list", array, kDomain);
    ASSERT_TRUE(setup->appSynchronize(kDomain));
  }
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    auto store = newStore();
    ASSERT_TRUE(store->appSynchronize(kDomain));
    env_.resetCounts();
    test.change(*store);
    EXPECT_TRUE(store->appSynchronize(kDomain));
    EXPECT_EQ(env_.count(Call::CreateTemporaryFile), 0);
    EXPECT_TRUE(isIdentical(store->copyAppValue("n", kDomain), Value::integer(5)));
  }
}

TEST_P(PreferenceStoreTest, ReplacingAValueWithAnEqualOneOfAnotherKindStoresTheNewKind) {
  // Foundation's equality calls each pair equal; the file must still change kind.
  const std::vector<std::pair<Value, Value>> cases = {
      {Value::boolean(true), Value::integer(1)},
      {Value::integer(1), Value::real(1.0)},
      {Value::real(1.0), Value::boolean(true)},
      {Value::integer(-1), Value::unsignedInteger(UINT64_MAX)},
      {Value::real(0.0), Value::real(-0.0)},
      {Value::array({Value::integer(0)}), Value::array({Value::boolean(false)})},
  };
  for (const auto& [before, after] : cases) {
    SCOPED_TRACE(before.description() + " -> " + after.description());
    auto writer = newStore();
    writer->setAppValue("k", before, kDomain);
    ASSERT_TRUE(writer->appSynchronize(kDomain));
    writer->setAppValue("k", after, kDomain);
    ASSERT_TRUE(writer->appSynchronize(kDomain));
    EXPECT_TRUE(isIdentical(storedDomain()["k"], after));
  }
}

TEST_P(PreferenceStoreTest, RefusesDomainNamesThatLeaveTheFolder) {
  const std::vector<std::string> names = {
      "", ".", "..", ".hidden", "../escaped", "a/b", "/absolute", std::string("nul\0name", 8)};
  auto store = newStore();
  for (const std::string& name : names) {
    SCOPED_TRACE("domain \"" + name + "\"");
    store->setAppValue("k", "v", name);
    EXPECT_TRUE(store->copyAppValue("k", name).isNone());
    EXPECT_FALSE(store->appSynchronize(name));
    bool called = false;
    EXPECT_TRUE(store
                    ->updateAppValue("k", name,
                                     [&](const Value&) {
                                       called = true;
                                       return Value("v");
                                     })
                    .isNone());
    EXPECT_FALSE(called);
    EXPECT_TRUE(store->pathForDomain(name).empty());
  }
  EXPECT_EQ(env_.count(Call::CreateTemporaryFile), 0);
  EXPECT_EQ(env_.count(Call::CreateDirectories), 0);
  EXPECT_EQ(env_.count(Call::LockFile), 0);
}

TEST_P(PreferenceStoreTest, RefusesEntriesThatCannotBeStored) {
  const std::string badText("caf\xc3", 4);  // cut in the middle of a UTF-8 sequence
  struct Case {
    const char* name;
    std::string key;
    Value value;
  };
  const std::vector<Case> cases = {
      {"the null marker", "k", Value::null()},
      {"an object reference", "k", Value::object(nullptr)},
      {"null inside an array", "k", Value::array({Value::integer(1), Value::null()})},
      {"null deep in a dictionary", "k",
       Value::dictionary({{"inner", Value::array({Value::null()})}})},
      {"text that is not UTF-8", "k", Value::array({Value(badText)})},
      {"a key that is not UTF-8", badText, Value::integer(1)},
  };
  auto store = newStore();
  store->setAppValue("k", "stored", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  int round = 0;
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const Value before = store->copyAppValue(test.key, kDomain);
    const Value other = Value::integer(++round);
    store->setAppValue(test.key, test.value, kDomain);
    store->setAppValue("other", other, kDomain);
    EXPECT_TRUE(store->appSynchronize(kDomain))
        << "a refused entry must not hold back the other pending changes";
    EXPECT_TRUE(isIdentical(store->copyAppValue(test.key, kDomain), before));
    EXPECT_TRUE(isIdentical(storedDomain()["other"], other));

    const Value result =
        store->updateAppValue(test.key, kDomain, [&](const Value&) { return test.value; });
    EXPECT_TRUE(isIdentical(result, before));
    EXPECT_TRUE(isIdentical(storedDomain()["k"], "stored"));
  }
}

TEST_P(PreferenceStoreTest, UpdateAppValueAppendsFromEitherStoreWithoutLosingAny) {
  const auto append = [](PreferenceStore& store, const std::string& entry) {
    return store.updateAppValue("list", kDomain, [&](const Value& current) {
      Value::Array items = current.isArray() ? current.arrayValue() : Value::Array{};
      items.emplace_back(entry);
      return Value(std::move(items));
    });
  };
  auto a = newStore();
  auto b = newStore();
  // Neither store synchronises between appends: each update must read the other's.
  EXPECT_EQ(append(*a, "a1").arrayValue().size(), 1u);
  EXPECT_EQ(append(*b, "b1").arrayValue().size(), 2u);
  EXPECT_EQ(append(*a, "a2").arrayValue().size(), 3u);
  const Value returned = append(*b, "b2");

  const Value expected = Value::array({"a1", "b1", "a2", "b2"});
  EXPECT_TRUE(isIdentical(returned, expected));
  EXPECT_TRUE(isIdentical(storedDomain()["list"], expected));
  EXPECT_TRUE(isIdentical(a->copyAppValue("list", kDomain), Value::array({"a1", "b1", "a2"})))
      << "an update elsewhere must not change the view before a synchronisation";
}

TEST_P(PreferenceStoreTest, UpdateAppValueWritesOtherPendingChangesAndRemovesOnNone) {
  auto store = newStore();
  store->setAppValue("doomed", Value::integer(1), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  store->setAppValue("pending", "along", kDomain);

  const Value result = store->updateAppValue("doomed", kDomain, [](const Value& current) {
    EXPECT_TRUE(isIdentical(current, Value::integer(1)));
    return Value();
  });
  EXPECT_TRUE(result.isNone());
  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"pending", "along"}})));
}

TEST_P(PreferenceStoreTest, AChangeFunctionThatThrowsLeavesTheDomainAsItWas) {
  auto store = newStore();
  store->setAppValue("k", Value::integer(1), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  env_.resetCounts();

  EXPECT_THROW(store->updateAppValue("k", kDomain,
                                     [](const Value&) -> Value { throw std::runtime_error("no"); }),
               std::runtime_error);
  EXPECT_EQ(env_.count(Call::CreateTemporaryFile), 0);
  // The store and the domain's lock were both released: another store can update at once.
  auto other = newStore();
  EXPECT_TRUE(isIdentical(
      other->updateAppValue("k", kDomain, [](const Value&) { return Value::integer(2); }),
      Value::integer(2)));
  EXPECT_TRUE(store->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(store->copyAppValue("k", kDomain), Value::integer(2)));
}

TEST_P(PreferenceStoreTest, AChangeFunctionCallingTheStoreIsReportedInsteadOfDeadlocking) {
  std::vector<platform::AssertionFailure> failures;
  platform::ScopedAssertionHandler handler(
      [&](const platform::AssertionFailure& failure) { failures.push_back(failure); });
  auto store = newStore();
  const Value result = store->updateAppValue("k", kDomain, [&](const Value&) {
    EXPECT_TRUE(store->copyAppValue("k", kDomain).isNone());
    EXPECT_FALSE(store->appSynchronize(kDomain));
    return Value("done");
  });
  EXPECT_TRUE(isIdentical(result, "done"));
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0].method, "copyAppValue");
  EXPECT_EQ(failures[1].method, "appSynchronize");
}

TEST_P(PreferenceStoreTest, ConcurrentUpdatesFromThreadsAndStoresAreAllKept) {
  constexpr int kPerThread = 60;
  auto shared = newStore();
  auto separate = newStore();
  const auto run = [&](PreferenceStore& store, const std::string& label) {
    for (int i = 0; i < kPerThread; ++i) {
      store.updateAppValue("list", kDomain, [&](const Value& current) {
        Value::Array items = current.isArray() ? current.arrayValue() : Value::Array{};
        items.emplace_back(label + std::to_string(i));
        return Value(std::move(items));
      });
    }
  };
  // Two threads on one store, and a third on another store (a lock of its own on the file).
  std::vector<std::thread> threads;
  threads.emplace_back(run, std::ref(*shared), "x");
  threads.emplace_back(run, std::ref(*shared), "y");
  threads.emplace_back(run, std::ref(*separate), "z");
  for (auto& thread : threads) thread.join();

  const Value list = storedDomain()["list"];
  ASSERT_EQ(list.arrayValue().size(), 3u * kPerThread);
  std::set<std::string> distinct;
  for (const Value& item : list.arrayValue()) distinct.insert(item.stringValue());
  EXPECT_EQ(distinct.size(), 3u * kPerThread);
}

class PreferenceStoreDiskTest : public PreferenceStoreFixture {};
INSTANTIATE_TEST_SUITE_P(Disk, PreferenceStoreDiskTest, testing::Values(Backing::Disk),
                         backingName);

TEST_P(PreferenceStoreDiskTest, WritesABinaryFileForTheUserOnlyInFoldersItCreates) {
  auto store = newStore();
  EXPECT_TRUE(store->appSynchronize(kDomain)) << "a missing folder is an empty domain";
  EXPECT_FALSE(env_.target().isDirectory(directory_)) << "a read must not create folders";

  store->setAppValue("k", "v", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(store->pathForDomain(kDomain), path_);
  EXPECT_EQ(readRaw(path_).substr(0, 8), "bplist00");

  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  for (const std::string& folder : {directory_, temporary_ / "Library"}) {
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
  }
}

}  // namespace
}  // namespace hxtest
