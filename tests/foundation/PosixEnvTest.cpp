// What only the real environment can show: file modes, leftovers, and locks and counters
// shared with another process.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/foundation/Env.h"
#include "support/TestSupport.h"

namespace platform {
namespace {

HX_CHILD_SCENARIO("posix-env-hold-lock") {
  std::unique_ptr<FileLock> lock;
  if (!defaultEnv().lockFile(arguments.at(0), lock).isOk()) return 1;
  std::printf("locked\n");
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::seconds(60));
  return 0;
}

HX_CHILD_SCENARIO("posix-env-count") {
  std::unique_ptr<SharedCounter> counter;
  if (!defaultEnv().mapSharedCounter(arguments.at(0), counter).isOk()) return 1;
  for (int i = 0; i < 1000; ++i) counter->increment();
  return 0;
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(PosixEnvTest, AtomicWriteSetsModeDespiteUmaskAndLeavesNoTemporaryFile) {
  hxtest::TemporaryDirectory directory;
  const mode_t previous = ::umask(0077);
  ASSERT_TRUE(defaultEnv().writeFileAtomically(directory / "shared", "x", 0644).isOk());
  ::umask(previous);
  EXPECT_EQ(modeOf(directory / "shared"), 0644u);
  ASSERT_TRUE(defaultEnv().writeFileAtomically(directory / "private", "x", 0600).isOk());
  EXPECT_EQ(modeOf(directory / "private"), 0600u);

  std::unique_ptr<FileLock> lock;
  ASSERT_TRUE(defaultEnv().lockFile(directory / "lock", lock).isOk());
  EXPECT_EQ(modeOf(directory / "lock") & 077, 0u);

  std::vector<std::string> names;
  ASSERT_TRUE(defaultEnv().listDirectory(directory.path(), names).isOk());
  EXPECT_EQ(names, (std::vector<std::string>{"lock", "private", "shared"}));
}

TEST(PosixEnvTest, EveryAtomicWriteLeavesAFileOfItsOwnIdentity) {
  // Same size, written faster than the file system's clock ticks, and nothing held open, so
  // inode numbers are free to come back.
  hxtest::TemporaryDirectory directory;
  const std::string path = directory / "domain.plist";
  std::vector<FileIdentity> seen;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(defaultEnv().writeFileAtomically(path, i % 2 == 0 ? "a" : "b", 0600).isOk());
    FileIdentity identity;
    ASSERT_TRUE(defaultEnv().fileIdentity(path, identity).isOk());
    for (const FileIdentity& earlier : seen) ASSERT_FALSE(earlier == identity) << i;
    seen.push_back(identity);
  }
  EXPECT_TRUE(defaultEnv().flushFolder(directory.path()).isOk());
  EXPECT_TRUE(defaultEnv().flushFolder(directory / "missing").isNotFound());
}

TEST(PosixEnvTest, WritingOverAFolderFailsAndCleansUp) {
  hxtest::TemporaryDirectory directory;
  ASSERT_TRUE(defaultEnv().createDirectories(directory / "folder", 0700).isOk());
  EXPECT_FALSE(defaultEnv().writeFileAtomically(directory / "folder", "x", 0600).isOk());
  std::vector<std::string> names;
  ASSERT_TRUE(defaultEnv().listDirectory(directory.path(), names).isOk());
  EXPECT_EQ(names, std::vector<std::string>{"folder"});
}

TEST(PosixEnvTest, LockHeldByAnotherProcessIsBusyAndDiesWithIt) {
  hxtest::TemporaryDirectory directory;
  const std::string path = directory / "domain.lock";
  hxtest::ChildProcess child("posix-env-hold-lock", {path});
  ASSERT_EQ(child.readLine(), "locked");

  std::unique_ptr<FileLock> lock;
  EXPECT_TRUE(defaultEnv().tryLockFile(path, lock).isBusy());
  child.kill(SIGKILL);
  child.wait();
  EXPECT_TRUE(defaultEnv().tryLockFile(path, lock).isOk());
}

TEST(PosixEnvTest, CounterIsSharedBetweenProcesses) {
  hxtest::TemporaryDirectory directory;
  const std::string path = directory / "counter";
  std::unique_ptr<SharedCounter> counter;
  ASSERT_TRUE(defaultEnv().mapSharedCounter(path, counter).isOk());
  counter->increment();
  hxtest::ChildProcess first("posix-env-count", {path});
  hxtest::ChildProcess second("posix-env-count", {path});
  EXPECT_EQ(first.wait(), 0);
  EXPECT_EQ(second.wait(), 0);
  EXPECT_EQ(counter->load(), 2001u);
}

TEST(PosixEnvTest, EnvironmentVariablesAndClock) {
  ::setenv("HX_ENV_TEST_VARIABLE", "value", 1);
  EXPECT_EQ(defaultEnv().getEnvironment("HX_ENV_TEST_VARIABLE"), "value");
  ::unsetenv("HX_ENV_TEST_VARIABLE");
  EXPECT_EQ(defaultEnv().getEnvironment("HX_ENV_TEST_VARIABLE"), std::nullopt);
  // After 2020 and before 2100: the clock counts from 1970 in seconds.
  EXPECT_GT(defaultEnv().now(), 1577836800.0);
  EXPECT_LT(defaultEnv().now(), 4102444800.0);
  EXPECT_EQ(&defaultEnv(), &defaultEnv());
}

}  // namespace
}  // namespace platform
