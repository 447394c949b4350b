// Whole-domain reads and read-modify-writes: the result replaces the file in one write, takes
// in what another store wrote, and a failure leaves the file and the pending changes alone.
#include <gtest/gtest.h>

#include <stdexcept>

#include "PreferenceStoreFixture.h"

namespace hxtest {
namespace {

using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreDomainTest : public PreferenceStoreFixture {};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreDomainTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

TEST_P(PreferenceStoreDomainTest,
       UpdateSeesOtherWritersAndPendingChangesAndStoresExactlyItsResult) {
  auto other = newStore();
  other->setAppValue("theirs", Value::integer(1), kDomain);
  other->setAppValue("dropped", Value("x"), kDomain);
  ASSERT_TRUE(other->appSynchronize(kDomain));

  auto store = newStore();
  EXPECT_TRUE(isIdentical(store->copyAppDomain(kDomain),
                          Value::dictionary({{"theirs", Value::integer(1)}, {"dropped", "x"}})));
  store->setAppValue("mine", Value::boolean(true), kDomain);
  other->setAppValue("late", Value::real(2.5), kDomain);
  ASSERT_TRUE(other->appSynchronize(kDomain));

  Value::Dictionary seen;
  ASSERT_TRUE(store->updateAppDomain(kDomain, [&](const Value::Dictionary& current) {
    seen = current;
    Value::Dictionary result = current;
    result.erase("dropped");
    result["renamed"] = Value::integer(7);
    return result;
  }));
  const Value expectedSeen = Value::dictionary({{"theirs", Value::integer(1)},
                                                {"dropped", "x"},
                                                {"mine", Value::boolean(true)},
                                                {"late", Value::real(2.5)}});
  EXPECT_TRUE(isIdentical(Value(seen), expectedSeen));
  const Value expected = Value::dictionary({{"theirs", Value::integer(1)},
                                            {"mine", Value::boolean(true)},
                                            {"late", Value::real(2.5)},
                                            {"renamed", Value::integer(7)}});
  EXPECT_TRUE(isIdentical(Value(storedDomain()), expected));
  EXPECT_TRUE(isIdentical(store->copyAppDomain(kDomain), expected));
  ASSERT_TRUE(other->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(other->copyAppDomain(kDomain), expected));

  // An empty result empties the domain.
  ASSERT_TRUE(store->updateAppDomain(kDomain,
                                     [](const Value::Dictionary&) { return Value::Dictionary(); }));
  EXPECT_TRUE(storedDomain().empty());
}

TEST_P(PreferenceStoreDomainTest, AFailedOrRefusedUpdateChangesNothing) {
  auto store = newStore();
  store->setAppValue("kept", Value("before"), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  store->setAppValue("pending", Value::integer(3), kDomain);
  const auto replaceAll = [](const Value::Dictionary&) {
    return Value::Dictionary{{"new", Value("after")}};
  };

  env_.failCall(Call::CreateTemporaryFile);
  EXPECT_FALSE(store->updateAppDomain(kDomain, replaceAll));
  EXPECT_THROW(store->updateAppDomain(kDomain,
                                      [](const Value::Dictionary&) -> Value::Dictionary {
                                        throw std::runtime_error("refused");
                                      }),
               std::runtime_error);
  EXPECT_FALSE(store->updateAppDomain(kDomain, [](const Value::Dictionary&) {
    return Value::Dictionary{{"bad", Value::null()}};
  }));
  EXPECT_FALSE(store->updateAppDomain("../escape", replaceAll));

  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"kept", "before"}})));
  // The pending change survived and reaches the file at the next synchronisation.
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(Value(storedDomain()),
                          Value::dictionary({{"kept", "before"}, {"pending", Value::integer(3)}})));
}

}  // namespace
}  // namespace hxtest
