// What only the real environment can show: file modes, leftovers, reads of what is not a plain
// file, and locks and counters shared with another process.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
  // A blocking take gives up after its bound instead of waiting for the holder.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(defaultEnv().lockFile(path, lock).isBusy());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  child.kill(SIGKILL);
  child.wait();
  EXPECT_TRUE(defaultEnv().tryLockFile(path, lock).isOk());
}

TEST(PosixEnvTest, TheLockWaitIsABoundForAThreadThatBlocksEverySignal) {
  hxtest::TemporaryDirectory directory;
  const std::string path = directory / "domain.lock";
  std::unique_ptr<FileLock> held;
  ASSERT_TRUE(defaultEnv().lockFile(path, held).isOk());
  struct sigaction before {};
  ::sigaction(SIGRTMIN + 5, nullptr, &before);
  Status waited;
  std::chrono::duration<double> took{};
  // A threaded host leaves signals to one sigwait thread and blocks them everywhere else.
  std::thread blocked([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<FileLock> lock;
    waited = defaultEnv().lockFile(path, lock);
    took = std::chrono::steady_clock::now() - start;
  });
  blocked.join();
  EXPECT_TRUE(waited.isBusy()) << waited.toString();
  EXPECT_LT(took.count(), kDomainLockWaitSeconds + 1.0);
  struct sigaction after {};
  ::sigaction(SIGRTMIN + 5, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler) << "the host's signal handler was replaced";
}

TEST(PosixEnvTest, ReadsRefuseWhatIsNotARegularFileOrIsOverTheCapWithoutBlocking) {
  hxtest::TemporaryDirectory directory;
  ASSERT_EQ(::mkfifo((directory / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (directory / "zero").c_str()), 0);
  const std::int64_t cap = maximumFileSize(FileKind::InfoPlist);
  hxtest::writeFile(directory / "at-cap", std::string(static_cast<std::size_t>(cap), 'x'));
  hxtest::writeFile(directory / "over-cap", std::string(static_cast<std::size_t>(cap) + 1, 'x'));

  std::string contents;
  for (const char* name : {"fifo", "zero", "over-cap"}) {
    EXPECT_EQ(defaultEnv().readFile(directory / name, FileKind::InfoPlist, contents).code(),
              Status::Code::Corruption)
        << name;
    EXPECT_TRUE(contents.empty());
  }
  EXPECT_TRUE(defaultEnv().readFile(directory / "at-cap", FileKind::InfoPlist, contents).isOk());
  EXPECT_EQ(static_cast<std::int64_t>(contents.size()), cap);

  // A refused file is still identified, so a caller can tell when it is replaced.
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  EXPECT_EQ(
      defaultEnv()
          .readFileHeld(directory / "fifo", FileKind::PreferenceDomain, contents, held, identity)
          .code(),
      Status::Code::Corruption);
  EXPECT_TRUE(held);
  FileIdentity now;
  ASSERT_TRUE(defaultEnv().fileIdentity(directory / "fifo", now).isOk());
  EXPECT_EQ(identity, now);
}

TEST(PosixEnvTest, CounterPageIsAllocatedBeforeItIsMapped) {
  // A page that is only a hole in the file faults on first touch when the disk is full.
  hxtest::TemporaryDirectory directory;
  const std::string holey = directory / "holey";
  const int fd = ::open(holey.c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, sizeof(std::uint64_t)), 0);
  ::close(fd);
  for (const std::string& path : {holey, directory / "fresh"}) {
    std::unique_ptr<SharedCounter> counter;
    ASSERT_TRUE(defaultEnv().mapSharedCounter(path, counter).isOk());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_GT(st.st_blocks, 0) << path;
    EXPECT_EQ(counter->load(), 0u);
  }
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
