// Real processes sharing one folder: this test binary started again as a child.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/preferences/PreferenceStore.h"
#include "support/TestSupport.h"

namespace hxtest {
namespace {

using platform::PreferenceStore;
using platform::Value;

constexpr std::string_view kDomain = "com.example.halvex-process";

Value appended(const Value& current, const std::string& entry) {
  Value::Array items = current.isArray() ? current.arrayValue() : Value::Array{};
  items.emplace_back(entry);
  return Value(std::move(items));
}

// arguments: folder. Waits for "ping", answers "pong".
HX_CHILD_SCENARIO("preferences-pong") {
  PreferenceStore store(platform::defaultEnv(), arguments.at(0));
  const bool pinged = waitFor([&] {
    return store.appSynchronize(kDomain) && store.copyAppValue("ping", kDomain).isString();
  });
  if (!pinged) return 1;
  store.setAppValue("pong", store.copyAppValue("ping", kDomain), kDomain);
  return store.appSynchronize(kDomain) ? 0 : 2;
}

// arguments: folder, label, count. Appends "<label><i>" to "entries" count times.
HX_CHILD_SCENARIO("preferences-append") {
  PreferenceStore store(platform::defaultEnv(), arguments.at(0));
  const std::string& label = arguments.at(1);
  const int count = std::stoi(arguments.at(2));
  for (int i = 0; i < count; ++i) {
    const std::string entry = label + std::to_string(i);
    // A write that waited past the lock's bound (a machine stalled on I/O) stores nothing and
    // says so; it is tried again, as a caller would. Only an entry lost after a store fails.
    platform::WriteOutcome outcome = platform::WriteOutcome::NotStored;
    Value stored;
    for (int attempt = 0; attempt < 10 && outcome == platform::WriteOutcome::NotStored; ++attempt) {
      stored = store.updateAppValue(
          "entries", kDomain, [&](const Value& current) { return appended(current, entry); },
          &outcome);
    }
    if (stored.arrayValue().empty() || stored.arrayValue().back().stringValue() != entry) return 1;
  }
  return 0;
}

// arguments: folder. Writes increasing numbers to "a" and "b" (one file, so always equal)
// from where the last writer stopped, until killed. Says "writing" after its first write.
HX_CHILD_SCENARIO("preferences-write-forever") {
  PreferenceStore store(platform::defaultEnv(), arguments.at(0));
  std::int64_t next = store.copyAppValue("a", kDomain).integerValue().value_or(0) + 1;
  for (bool first = true;; ++next, first = false) {
    store.setAppValue("a", Value::integer(next), kDomain);
    store.setAppValue("b", Value::integer(next), kDomain);
    if (!store.appSynchronize(kDomain)) return 1;
    if (first) std::cout << "writing" << std::endl;
  }
}

class PreferenceStoreProcessTest : public testing::Test {
 protected:
  std::string folder() const { return temporary_ / "Library/Preferences"; }
  std::string domainPath() const { return folder() + "/" + std::string(kDomain) + ".plist"; }

  TemporaryDirectory temporary_;
};

TEST_F(PreferenceStoreProcessTest, AValueWrittenInOneProcessIsSeenInTheOther) {
  PreferenceStore store(platform::defaultEnv(), folder());
  ChildProcess child("preferences-pong", {folder()});
  store.setAppValue("ping", "hello", kDomain);
  ASSERT_TRUE(store.appSynchronize(kDomain));
  EXPECT_TRUE(waitFor([&] {
    return store.appSynchronize(kDomain) && store.copyAppValue("pong", kDomain).isString();
  }));
  EXPECT_EQ(store.copyAppValue("pong", kDomain).stringValue(), "hello");
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(PreferenceStoreProcessTest, TwoProcessesAppendingToOneArrayLoseNoEntry) {
  constexpr int kPerProcess = 300;
  std::vector<ChildProcess> children;
  children.emplace_back("preferences-append",
                        std::vector<std::string>{folder(), "a", std::to_string(kPerProcess)});
  children.emplace_back("preferences-append",
                        std::vector<std::string>{folder(), "b", std::to_string(kPerProcess)});
  for (ChildProcess& child : children) EXPECT_EQ(child.wait(std::chrono::seconds(90)), 0);

  PreferenceStore store(platform::defaultEnv(), folder());
  const Value::Array& entries = store.copyAppValue("entries", kDomain).arrayValue();
  ASSERT_EQ(entries.size(), 2u * kPerProcess);
  std::set<std::string> distinct;
  int nextA = 0;
  int nextB = 0;
  for (const Value& entry : entries) {
    const std::string& text = entry.stringValue();
    distinct.insert(text);
    // Each process's own entries stay in the order it appended them.
    int& next = text.front() == 'a' ? nextA : nextB;
    EXPECT_EQ(text.substr(1), std::to_string(next++));
  }
  EXPECT_EQ(distinct.size(), 2u * kPerProcess);
}

TEST_F(PreferenceStoreProcessTest, AWriterKilledAtAnyMomentLeavesAReadableFile) {
  constexpr int kRuns = 50;
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delayUs(0, 40000);
  std::int64_t last = 0;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    {
      ChildProcess child("preferences-write-forever", {folder()});
      // The delay counts from the first write, so that slow start-ups (sanitisers) still
      // leave every kill landing somewhere in the write loop.
      ASSERT_EQ(child.readLine(), "writing");
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
      child.kill(SIGKILL);
      const std::optional<int> status = child.wait();
      ASSERT_TRUE(status.has_value());
      ASSERT_NE(*status, 1) << "the writer saw a failed synchronisation";
    }
    std::string contents;
    const platform::Status read = platform::defaultEnv().readFile(
        domainPath(), platform::FileKind::PreferenceDomain, contents);
    ASSERT_TRUE(read.isOk()) << read.toString();
    const std::optional<Value> root = platform::parsePropertyList(contents);
    ASSERT_TRUE(root && root->isDictionary()) << "torn or corrupt domain file";
    const Value& a = (*root)["a"];
    ASSERT_TRUE(a.isInteger());
    EXPECT_TRUE(a == (*root)["b"]) << "one write reached the file only in part";
    EXPECT_GE(a.integerBits(), last) << "a newer value was lost";
    last = a.integerBits();
  }
  std::vector<std::string> names;
  ASSERT_TRUE(platform::defaultEnv().listDirectory(folder(), names).isOk());
  for (const std::string& name : names) {
    EXPECT_EQ(name.find(".corrupt-"), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace hxtest
