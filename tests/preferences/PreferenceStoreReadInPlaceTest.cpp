// A domain file is read in place and its values decoded only when asked for: a late decode
// still answers from the file the view was read from, a file damaged or cut short under a reader
// never crashes it, files from other writers keep every key, and a write is durable only once
// its folder is flushed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "PreferenceStoreFixture.h"

namespace hxtest {
namespace {

using platform::Value;
using Call = PreferenceTestEnv::Call;

class PreferenceStoreReadInPlaceTest : public PreferenceStoreFixture {
 protected:
  // A domain whose values lie apart in the file.
  void writeDomain(platform::PreferenceStore& store, const std::string& text) {
    for (int i = 0; i < 50; ++i) {
      store.setAppValue("key" + std::to_string(i),
                        Value::dictionary({{"text", Value(text + std::to_string(i))},
                                           {"flag", Value::boolean(i % 2 == 0)}}),
                        kDomain);
    }
    ASSERT_TRUE(store.appSynchronize(kDomain));
  }
  static Value expected(const std::string& text, int i) {
    return Value::dictionary(
        {{"text", Value(text + std::to_string(i))}, {"flag", Value::boolean(i % 2 == 0)}});
  }
};
INSTANTIATE_TEST_SUITE_P(Backings, PreferenceStoreReadInPlaceTest,
                         testing::Values(Backing::Memory, Backing::Disk), backingName);

TEST_P(PreferenceStoreReadInPlaceTest, ALateDecodeAnswersFromTheFileTheViewWasReadFrom) {
  auto writer = newStore();
  writeDomain(*writer, "old");
  auto reader = newStore();
  EXPECT_TRUE(isIdentical(reader->copyAppValue("key0", kDomain), expected("old", 0)));

  writeDomain(*writer, "new");
  // Not synchronised: every key still comes from the first file, never a mix of the two.
  EXPECT_TRUE(isIdentical(reader->copyAppValue("key49", kDomain), expected("old", 49)));
  ASSERT_TRUE(reader->appSynchronize(kDomain));
  EXPECT_TRUE(isIdentical(reader->copyAppValue("key0", kDomain), expected("new", 0)));
  EXPECT_TRUE(isIdentical(reader->copyAppValue("key48", kDomain), expected("new", 48)));
}

TEST_P(PreferenceStoreReadInPlaceTest, AReadInPlaceSeesWhatACopyWould) {
  auto writer = newStore();
  writeDomain(*writer, "v");
  auto reader = newStore();
  reader->setAppValue("pending", Value(std::string("p")), kDomain);
  const auto seen = [&](std::string_view key) {
    Value value;
    reader->readAppValue(key, kDomain, [&](const Value& v) { value = v; });
    return value;
  };
  EXPECT_TRUE(isIdentical(seen("key7"), expected("v", 7)));
  EXPECT_TRUE(isIdentical(seen("pending"), Value(std::string("p"))));
  EXPECT_TRUE(seen("absent").isNone());
}

TEST_P(PreferenceStoreReadInPlaceTest, MembershipReadInTheFileAgreesWithTheDecodedList) {
  auto writer = newStore();
  writer->setAppValue("list",
                      Value::array({Value::integer(3), Value(std::string("plain")),
                                    Value(std::string("gr\u00fcn")), Value::array({Value("x")})}),
                      kDomain);
  writer->setAppValue("text", Value(std::string("plain")), kDomain);
  ASSERT_TRUE(writer->appSynchronize(kDomain));
  auto reader = newStore();
  const auto holds = [&](std::string_view key, std::string_view text) {
    return reader->appArrayContainsString(key, text, kDomain);
  };
  EXPECT_TRUE(holds("list", "plain"));
  EXPECT_TRUE(holds("list", "gr\u00fcn"));  // stored as UTF-16
  EXPECT_FALSE(holds("list", "plai"));
  EXPECT_FALSE(holds("list", "3"));
  EXPECT_FALSE(holds("list", "x"));  // only the list's own elements count
  EXPECT_FALSE(holds("text", "plain"));
  EXPECT_FALSE(holds("absent", "plain"));
  // A pending change answers before the file.
  reader->setAppValue("list", Value::array({Value("new")}), kDomain);
  EXPECT_TRUE(holds("list", "new"));
  EXPECT_FALSE(holds("list", "plain"));
}

TEST_P(PreferenceStoreReadInPlaceTest, AFileCutShortOrReplacedByHandUnderAReaderNeverCrashesIt) {
  auto writer = newStore();
  writeDomain(*writer, "v");
  const std::string bytes = readRaw(path_);
  for (const bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "truncated in place" : "replaced by a shorter copy");
    auto reader = newStore();
    EXPECT_TRUE(isIdentical(reader->copyAppValue("key0", kDomain), expected("v", 0)));
    if (inPlace && GetParam() == Backing::Disk) {
      std::filesystem::resize_file(path_, bytes.size() / 2);
    } else {
      writeRaw(path_, bytes.substr(0, bytes.size() / 2));
    }
    EXPECT_TRUE(isIdentical(reader->copyAppValue("key30", kDomain), expected("v", 30)));

    // The next write of any store notices the change, finds the file unreadable and moves it
    // aside; the reader then sees what was written.
    auto other = newStore();
    other->setAppValue("after", Value::integer(1), kDomain);
    ASSERT_TRUE(other->appSynchronize(kDomain));
    ASSERT_TRUE(reader->appSynchronize(kDomain));
    EXPECT_TRUE(reader->copyAppValue("key30", kDomain).isNone());
    EXPECT_TRUE(isIdentical(reader->copyAppValue("after", kDomain), Value::integer(1)));
    EXPECT_TRUE(env_.target().fileExists(path_ + ".corrupt-1"));
    env_.target().removeFile(path_ + ".corrupt-1");
    writeRaw(path_, bytes);
  }
}

TEST_P(PreferenceStoreReadInPlaceTest, AValueFoundDamagedMakesTheWholeFileUnreadable) {
  // {"a": 1, "b": an array that contains itself}; the root and its keys are sound.
  std::string document = "bplist00";
  const std::string objects[] = {"\xD2\x01\x02\x03\x04",
                                 "\x51"
                                 "a",
                                 "\x51"
                                 "b",
                                 "\x10\x01", "\xA1\x04"};
  std::string table;
  for (const std::string& object : objects) {
    table += static_cast<char>(document.size());
    document += object;
  }
  const std::size_t tableOffset = document.size();
  document += table;
  std::string trailer(32, '\0');
  trailer[6] = 1;
  trailer[7] = 1;
  trailer[15] = 5;
  trailer[31] = static_cast<char>(tableOffset);
  writeRaw(path_, document + trailer);

  // Checked whole when loaded: every key reads the same from the first read on.
  auto store = newStore();
  EXPECT_TRUE(store->copyAppValue("a", kDomain).isNone());
  EXPECT_TRUE(store->copyAppValue("b", kDomain).isNone());
  EXPECT_EQ(store->domainState(kDomain), platform::DomainState::Unreadable);

  store->setAppValue("c", Value::integer(3), kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(readRaw(path_ + ".corrupt-1"), document + trailer);
  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"c", Value::integer(3)}})));
}

TEST_P(PreferenceStoreReadInPlaceTest, AFailedFolderFlushReportsTheWriteAndIsRetried) {
  auto store = newStore();
  store->setAppValue("k", Value::integer(1), kDomain);
  env_.failCall(Call::FlushFolder);
  EXPECT_FALSE(store->appSynchronize(kDomain));
  // The file was replaced all the same: others read the change.
  EXPECT_TRUE(isIdentical(newStore()->copyAppValue("k", kDomain), Value::integer(1)));

  // The change is in the file: a retry that fails again leaves it not durable, never
  // "not stored", and it takes no lock.
  env_.failCall(Call::FlushFolder);
  env_.failCall(Call::LockFile, 1, -1);
  platform::WriteOutcome outcome = platform::WriteOutcome::Stored;
  EXPECT_FALSE(store->appSynchronize(kDomain, &outcome));
  EXPECT_EQ(outcome, platform::WriteOutcome::NotDurable);
  env_.clearFailures();

  env_.resetCounts();
  EXPECT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(env_.count(Call::FlushFolder), 1);
  EXPECT_EQ(env_.count(Call::CreateTemporaryFile), 0);

  env_.failCall(Call::FlushFolder);
  const Value stored =
      store->updateAppValue("k", kDomain, [](const Value&) { return Value::integer(2); });
  EXPECT_TRUE(isIdentical(stored, Value::integer(2)));
  EXPECT_TRUE(isIdentical(Value(storedDomain()), Value::dictionary({{"k", Value::integer(2)}})));
}

// Python's plistlib shares every repeated key, number and text between objects.
constexpr const char* kPlistlib = R"(
import plistlib, sys
mode, path = sys.argv[1], sys.argv[2]
def domain(flag):
    d = {f"com.example.app{i}": {"autoLaunch": i % 2 == 0, "backgroundBehavior": i % 3,
                                 "preventTermination": False} for i in range(300)}
    d["backgrounding"] = [f"com.example.app{i}" for i in range(0, 300, 2)]
    d["com.example.app7"]["autoLaunch"] = flag
    return d
if mode == "write":
    open(path, "wb").write(plistlib.dumps(domain(False), fmt=plistlib.FMT_BINARY))
else:
    data = open(path, "rb").read()
    read = plistlib.loads(data)
    expected = domain(True)
    expected["added"] = "by the store"
    ours, theirs = len(data), len(plistlib.dumps(read, fmt=plistlib.FMT_BINARY))
    sys.exit(0 if read == expected and ours <= 1.2 * theirs else 1)
)";

TEST_P(PreferenceStoreReadInPlaceTest, ADomainWrittenByPlistlibKeepsEveryKeyAndItsSize) {
  if (GetParam() == Backing::Memory) GTEST_SKIP() << "Python reads the disk";
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "python3 is not installed";
  ASSERT_TRUE(env_.target().createDirectories(directory_, 0700).isOk());
  const auto python = [&](const char* mode) {
    return ChildProcess::program("/usr/bin/python3", {"-c", kPlistlib, mode, path_}).wait();
  };
  ASSERT_EQ(python("write"), 0);

  auto store = newStore();
  EXPECT_TRUE(isIdentical(store->copyAppValue("com.example.app4", kDomain),
                          Value::dictionary({{"autoLaunch", Value::boolean(true)},
                                             {"backgroundBehavior", Value::integer(1)},
                                             {"preventTermination", Value::boolean(false)}})));
  store->updateAppValue("com.example.app7", kDomain, [](const Value& current) {
    Value settings = current;
    settings.mutableDictionary()["autoLaunch"] = Value::boolean(true);
    return settings;
  });
  store->setAppValue("added", "by the store", kDomain);
  ASSERT_TRUE(store->appSynchronize(kDomain));
  EXPECT_EQ(python("check"), 0);
}

}  // namespace
}  // namespace hxtest
#include "platform/foundation/WriteOutcome.h"
