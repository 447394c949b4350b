// A fixture for preference store tests, run over memory and over a temporary folder on
// disk, with every Env call going through a PreferenceTestEnv that counts and fails calls.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PreferenceTestEnv.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"
#include "platform/preferences/PreferenceStore.h"
#include "support/TestSupport.h"

namespace hxtest {

enum class Backing { Memory, Disk };

inline std::string backingName(const testing::TestParamInfo<Backing>& info) {
  return info.param == Backing::Memory ? "Memory" : "Disk";
}

class PreferenceStoreFixture : public testing::TestWithParam<Backing> {
 protected:
  static constexpr std::string_view kDomain = "com.example.halvex-test";

  PreferenceStoreFixture()
      : memory_(GetParam() == Backing::Memory ? platform::newMemoryEnv(platform::defaultEnv())
                                              : nullptr),
        env_(memory_ ? *memory_ : platform::defaultEnv()),
        directory_(temporary_ / "Library/Preferences"),
        path_(directory_ + "/" + std::string(kDomain) + ".plist") {}

  std::unique_ptr<platform::PreferenceStore> newStore() {
    return std::make_unique<platform::PreferenceStore>(env_, directory_);
  }

  // The domain as its file holds it; empty when the file is missing. A file that does not
  // parse as a dictionary fails the test.
  platform::Value::Dictionary storedDomain() {
    std::string contents;
    platform::Status status =
        env_.target().readFile(path_, platform::FileKind::PreferenceDomain, contents);
    if (status.isNotFound()) return {};
    EXPECT_TRUE(status.isOk()) << status.toString();
    std::optional<platform::Value> root = platform::parsePropertyList(contents);
    if (!root || !root->isDictionary()) {
      ADD_FAILURE() << path_ << " does not hold a dictionary";
      return {};
    }
    return root->dictionaryValue();
  }

  void writeRaw(const std::string& path, const std::string& contents) {
    ASSERT_TRUE(env_.target().createDirectories(directory_, 0700).isOk());
    ASSERT_TRUE(env_.target().writeFileAtomically(path, contents, 0600).isOk());
  }

  std::string readRaw(const std::string& path) {
    std::string contents;
    EXPECT_TRUE(env_.target().readFile(path, platform::FileKind::PreferenceDomain, contents).isOk())
        << path;
    return contents;
  }

  TemporaryDirectory temporary_;
  std::unique_ptr<platform::Env> memory_;
  PreferenceTestEnv env_;
  const std::string directory_;
  const std::string path_;
};

// Compares with identicalPropertyLists and prints both sides on failure.
inline testing::AssertionResult isIdentical(const platform::Value& actual,
                                            const platform::Value& expected) {
  if (platform::identicalPropertyLists(actual, expected)) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "got " << actual.description() << ", expected " << expected.description();
}

}  // namespace hxtest
