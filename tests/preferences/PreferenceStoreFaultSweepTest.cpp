// Every store operation with each of its file-system calls failing in turn, with each error
// that call can return, and with the process dying at each call before the power is lost.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

#include "FaultInjectionEnv.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/MemoryEnv.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/preferences/PreferenceStore.h"

namespace {

using hxtest::FaultInjectionEnv;
using platform::DomainState;
using platform::Value;
using platform::WriteOutcome;

constexpr const char* kFolder = "/home/Library/Preferences";
constexpr const char* kDomain = "com.example.sweep";

// Value::Dictionary, or none for a missing domain.
using Domain = std::optional<Value::Dictionary>;

Value::Dictionary oldDomain() {
  return {{"a", Value::integer(1)},
          {"b", Value("two")},
          {"app", Value::dictionary({{"x", Value::boolean(true)}})}};
}

struct Operation {
  const char* name;
  Domain expected;
  std::function<WriteOutcome(platform::PreferenceStore&)> run;
};

std::string describe(const Domain& domain) {
  return domain ? Value::dictionary(*domain).description() : "(missing)";
}

// What a fresh reader finds: the domain, or none when missing; fails on an unreadable file.
Domain freshRead(platform::Env& env) {
  platform::PreferenceStore reader(env, kFolder);
  const DomainState state = reader.domainState(kDomain);
  EXPECT_NE(state, DomainState::Unreadable) << "the store's own reader refuses the file";
  if (state != DomainState::Present) return std::nullopt;
  return reader.copyAppDomain(kDomain).dictionaryValue();
}

bool same(const Domain& a, const Domain& b) {
  if (!a || !b) return !a && !b;
  return platform::identicalPropertyLists(Value::dictionary(*a), Value::dictionary(*b));
}

std::vector<FaultInjectionEnv::Call> attempt(const Operation& operation,
                                             FaultInjectionEnv::Fault fault) {
  SCOPED_TRACE(std::string(operation.name) + ", " + FaultInjectionEnv::describe(fault));
  auto memory = platform::MemoryEnv::create(platform::defaultEnv());
  {
    platform::PreferenceStore seed(*memory, kFolder);
    EXPECT_TRUE(seed.updateAppDomain(kDomain, [](const auto&) { return oldDomain(); }));
  }
  FaultInjectionEnv env(*memory);
  env.arm(fault);
  WriteOutcome outcome;
  WriteOutcome reported = WriteOutcome::Stored;
  int announcements = 0;
  {
    platform::WriteOutcomeRecorder recorder;
    platform::PreferenceStore store(env, kFolder);
    store.setChangeListener([&](const platform::PreferenceStore::StoredChange& change) {
      EXPECT_TRUE(change.all || !change.keys.empty());
      ++announcements;
    });
    outcome = operation.run(store);
    reported = recorder.worst();
  }
  EXPECT_EQ(reported, outcome) << "the recorder heard another outcome than the caller";
  EXPECT_EQ(announcements, outcome == WriteOutcome::NotStored ? 0 : 1)
      << "a change is announced once exactly when it was stored";
  const bool crashed = fault.dies();
  if (fault.powerLoss) memory->dropUnflushed();

  const Domain found = freshRead(*memory);
  const Domain old = oldDomain();
  EXPECT_TRUE(same(found, old) || same(found, operation.expected))
      << "neither the old nor the new domain: " << describe(found);
  if (!crashed || outcome == WriteOutcome::Stored) {
    EXPECT_EQ(outcome != WriteOutcome::NotStored, same(found, operation.expected))
        << platform::describeOutcome(outcome) << "(" << static_cast<int>(outcome)
        << ") while a fresh reader finds " << describe(found);
  }
  if (fault.at == 0) {
    EXPECT_EQ(outcome, WriteOutcome::Stored);
  }

  // The next successful write leaves no temporary file behind.
  platform::PreferenceStore next(*memory, kFolder);
  next.setAppValue("z", Value::integer(26), kDomain);
  EXPECT_TRUE(next.appSynchronize(kDomain));
  std::vector<std::string> names;
  EXPECT_TRUE(memory->listDirectory(kFolder, names).isOk());
  for (const auto& name : names) EXPECT_FALSE(name.ends_with(".tmp")) << name << " survived";
  return env.trace();
}

TEST(PreferenceStoreFaultSweepTest, EveryFailurePointOfEveryOperationKeepsTheDomainWhole) {
  Value::Dictionary set = oldDomain();
  set["a"] = Value::integer(2);
  Value::Dictionary removed = oldDomain();
  removed.erase("b");
  Value::Dictionary updated = oldDomain();
  updated["app"] = Value::dictionary({{"x", Value::boolean(true)}, {"y", Value::integer(7)}});
  const Value::Dictionary imported = {{"n", Value::integer(1)}, {"a", Value::integer(1)}};

  const Operation operations[] = {
      {"set", set,
       [](platform::PreferenceStore& store) {
         store.setAppValue("a", Value::integer(2), kDomain);
         WriteOutcome outcome;
         store.appSynchronize(kDomain, &outcome);
         return outcome;
       }},
      {"remove", removed,
       [](platform::PreferenceStore& store) {
         store.setAppValue("b", Value(), kDomain);
         WriteOutcome outcome;
         store.appSynchronize(kDomain, &outcome);
         return outcome;
       }},
      {"updateAppValue", updated,
       [](platform::PreferenceStore& store) {
         WriteOutcome outcome;
         store.updateAppValue(
             "app", kDomain,
             [](const Value& current) {
               Value next = current.isDictionary() ? current : Value::dictionary();
               next.mutableDictionary()["y"] = Value::integer(7);
               return next;
             },
             &outcome);
         return outcome;
       }},
      {"import", imported,
       [&](platform::PreferenceStore& store) {
         WriteOutcome outcome;
         store.updateAppDomain(
             kDomain, [&](const auto&) { return imported; }, &outcome);
         return outcome;
       }},
      {"removeDomain", std::nullopt,
       [](platform::PreferenceStore& store) { return store.removeDomain(kDomain); }},
  };
  const auto previousSink = platform::setLogSink([](std::string_view) {});
  const auto start = std::chrono::steady_clock::now();
  int runs = 0;
  for (const Operation& operation : operations) {
    runs += FaultInjectionEnv::sweep([&](auto fault) { return attempt(operation, fault); });
  }
  platform::setLogSink(previousSink);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%d fault runs in %.2f s\n", runs, took.count());
}

}  // namespace
