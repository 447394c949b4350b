// One script of calls run against the real environment and the in-memory one: both must
// answer alike, so that code tested over MemoryEnv behaves the same over PosixEnv.
#include "platform/foundation/Env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/TestSupport.h"

namespace platform {
namespace {

struct PosixFixture {
  hxtest::TemporaryDirectory directory;
  Env& env() { return defaultEnv(); }
  std::string root() { return directory.path(); }
};

struct MemoryFixture {
  std::unique_ptr<Env> memory = newMemoryEnv(defaultEnv());
  MemoryFixture() { EXPECT_TRUE(memory->createDirectories("/tmp/memory-root", 0700).isOk()); }
  Env& env() { return *memory; }
  std::string root() { return "/tmp/memory-root"; }
};

template <typename Fixture>
class EnvTest : public testing::Test {
 protected:
  Fixture fixture_;
  Env& env() { return fixture_.env(); }
  std::string path(const std::string& name) { return joinPath(fixture_.root(), name); }
};

using Environments = testing::Types<PosixFixture, MemoryFixture>;
class EnvironmentNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, PosixFixture> ? "Posix" : "Memory";
  }
};
TYPED_TEST_SUITE(EnvTest, Environments, EnvironmentNames);

TYPED_TEST(EnvTest, WritesReadBackAndMissingFilesAreNotFound) {
  Env& env = this->env();
  std::string contents = "stale";
  EXPECT_TRUE(env.readFile(this->path("missing"), platform::FileKind::PreferenceDomain, contents)
                  .isNotFound());
  EXPECT_FALSE(env.fileExists(this->path("missing")));
  EXPECT_TRUE(env.writeFileAtomically(this->path("no/such/folder/file"), "x", 0600).isNotFound());

  ASSERT_TRUE(env.writeFileAtomically(this->path("file"), std::string("a\0b", 3), 0600).isOk());
  ASSERT_TRUE(
      env.readFile(this->path("file"), platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, std::string("a\0b", 3));
  EXPECT_TRUE(env.fileExists(this->path("file")));
  EXPECT_FALSE(env.isDirectory(this->path("file")));
  EXPECT_TRUE(env.isDirectory(this->path("")));

  ASSERT_TRUE(env.writeFileAtomically(this->path("file"), "", 0600).isOk());
  ASSERT_TRUE(
      env.readFile(this->path("file"), platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, "");
  // Reading a folder as a file is an error, not an empty file.
  EXPECT_FALSE(env.readFile(this->path(""), platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_FALSE(
      env.readFile(this->path(""), platform::FileKind::PreferenceDomain, contents).isNotFound());
}

TYPED_TEST(EnvTest, EveryRewriteChangesTheIdentity) {
  Env& env = this->env();
  FileIdentity identity;
  EXPECT_TRUE(env.fileIdentity(this->path("domain"), identity).isNotFound());

  ASSERT_TRUE(env.writeFileAtomically(this->path("domain"), "same", 0600).isOk());
  std::string contents;
  std::unique_ptr<HeldFile> held;
  FileIdentity read;
  ASSERT_TRUE(env.readFileHeld(this->path("domain"), platform::FileKind::PreferenceDomain, contents,
                               held, read)
                  .isOk());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(contents, "same");
  ASSERT_TRUE(env.fileIdentity(this->path("domain"), identity).isOk());
  EXPECT_EQ(identity, read);
  EXPECT_EQ(identity.size, 4);

  // Same size and contents, written again at once: still a different file.
  ASSERT_TRUE(env.writeFileAtomically(this->path("domain"), "same", 0600).isOk());
  FileIdentity rewritten;
  ASSERT_TRUE(env.fileIdentity(this->path("domain"), rewritten).isOk());
  EXPECT_NE(rewritten, read);
  EXPECT_TRUE(env.readFileHeld(this->path("missing"), platform::FileKind::PreferenceDomain,
                               contents, held, read)
                  .isNotFound());
}

TYPED_TEST(EnvTest, AReadAfterAnOffsetKeepsWhatWasHeldBeforeIt) {
  Env& env = this->env();
  const auto kind = platform::FileKind::PreferenceDomain;
  ASSERT_TRUE(env.writeFileAtomically(this->path("domain"), "0123456789", 0600).isOk());
  FileIdentity identity;
  FileIdentity read;
  ASSERT_TRUE(env.fileIdentity(this->path("domain"), identity).isOk());
  // The first four bytes are taken as held, whatever they are; the rest comes from the file.
  std::string contents = "abcdWXYZ-longer-than-the-file";
  ASSERT_TRUE(env.readFileAfter(this->path("domain"), kind, 4, contents, read).isOk());
  EXPECT_EQ(contents, "abcd456789");
  EXPECT_EQ(read, identity);
  // A file shorter than the part held cannot follow it: the held part stays.
  contents = std::string(20, 'h');
  const platform::Status shorter =
      env.readFileAfter(this->path("domain"), kind, 12, contents, read);
  EXPECT_EQ(shorter.code(), platform::Status::Code::Corruption);
  EXPECT_EQ(contents, std::string(12, 'h'));
  EXPECT_TRUE(env.readFileAfter(this->path("missing"), kind, 0, contents, read).isNotFound());
}

TYPED_TEST(EnvTest, AnOpenFolderAnswersAsTheJoinedPathDoes) {
  Env& env = this->env();
  std::unique_ptr<OpenFolder> folder;
  EXPECT_TRUE(env.openFolder(this->path("missing"), folder).isNotFound());
  ASSERT_TRUE(env.createDirectories(this->path("top/inner"), 0700).isOk());
  ASSERT_TRUE(env.writeFileAtomically(this->path("top/inner/file"), "x", 0600).isOk());
  ASSERT_TRUE(env.openFolder(this->path("top"), folder).isOk());
  FileIdentity direct;
  FileIdentity relative;
  ASSERT_TRUE(env.fileIdentity(this->path("top/inner/file"), direct).isOk());
  ASSERT_TRUE(folder->fileIdentity("inner/file", relative).isOk());
  EXPECT_EQ(relative, direct);
  ASSERT_TRUE(folder->fileIdentity("inner", relative).isOk());
  EXPECT_TRUE(folder->fileIdentity("inner/missing", relative).isNotFound());
  EXPECT_FALSE(folder->fileIdentity("/inner", relative).isOk()) << "relative paths only";
  EXPECT_FALSE(folder->fileIdentity("", relative).isOk());
  ASSERT_TRUE(env.removeFile(this->path("top/inner/file")).isOk());
  EXPECT_TRUE(folder->fileIdentity("inner/file", relative).isNotFound());
}

TYPED_TEST(EnvTest, RenameHonoursOverwritePolicy) {
  Env& env = this->env();
  ASSERT_TRUE(env.writeFileAtomically(this->path("a"), "A", 0600).isOk());
  ASSERT_TRUE(env.writeFileAtomically(this->path("b"), "B", 0600).isOk());

  Status refused = env.renameFile(this->path("a"), this->path("b"), AllowOverwrite::No);
  EXPECT_EQ(refused.code(), Status::Code::IOError);
  std::string contents;
  ASSERT_TRUE(env.readFile(this->path("b"), platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, "B");
  EXPECT_TRUE(env.fileExists(this->path("a")));

  FileIdentity before;
  ASSERT_TRUE(env.fileIdentity(this->path("a"), before).isOk());
  ASSERT_TRUE(env.renameFile(this->path("a"), this->path("c"), AllowOverwrite::No).isOk());
  FileIdentity after;
  ASSERT_TRUE(env.fileIdentity(this->path("c"), after).isOk());
  EXPECT_EQ(before.inode, after.inode);
  EXPECT_FALSE(env.fileExists(this->path("a")));

  ASSERT_TRUE(env.renameFile(this->path("c"), this->path("b"), AllowOverwrite::Yes).isOk());
  ASSERT_TRUE(env.readFile(this->path("b"), platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, "A");
  EXPECT_TRUE(
      env.renameFile(this->path("missing"), this->path("d"), AllowOverwrite::Yes).isNotFound());
  EXPECT_TRUE(
      env.renameFile(this->path("b"), this->path("nofolder/d"), AllowOverwrite::Yes).isNotFound());
}

TYPED_TEST(EnvTest, FoldersListSortedAndCreateIdempotently) {
  Env& env = this->env();
  std::vector<std::string> names = {"stale"};
  EXPECT_TRUE(env.listDirectory(this->path("missing"), names).isNotFound());

  ASSERT_TRUE(env.createDirectories(this->path("x/y/z"), 0700).isOk());
  ASSERT_TRUE(env.createDirectories(this->path("x/y/z/"), 0700).isOk());
  ASSERT_TRUE(env.writeFileAtomically(this->path("x/b.plist"), "", 0600).isOk());
  ASSERT_TRUE(env.writeFileAtomically(this->path("x/a.plist"), "", 0600).isOk());
  ASSERT_TRUE(env.listDirectory(this->path("x"), names).isOk());
  EXPECT_EQ(names, (std::vector<std::string>{"a.plist", "b.plist", "y"}));
  EXPECT_TRUE(env.isDirectory(this->path("x/y/z")));

  EXPECT_FALSE(env.createDirectories(this->path("x/a.plist/sub"), 0700).isOk());
  EXPECT_FALSE(env.listDirectory(this->path("x/a.plist"), names).isOk());

  ASSERT_TRUE(env.removeFile(this->path("x/a.plist")).isOk());
  EXPECT_TRUE(env.removeFile(this->path("x/a.plist")).isNotFound());
  EXPECT_FALSE(env.removeFile(this->path("x/y")).isOk());
  EXPECT_TRUE(env.isDirectory(this->path("x/y")));
}

TYPED_TEST(EnvTest, LocksExcludeEachOtherUntilReleased) {
  Env& env = this->env();
  const std::string lockPath = this->path("domain.lock");
  std::unique_ptr<FileLock> first;
  ASSERT_TRUE(env.lockFile(lockPath, first).isOk());
  EXPECT_TRUE(env.fileExists(lockPath));

  std::unique_ptr<FileLock> second;
  EXPECT_TRUE(env.tryLockFile(lockPath, second).isBusy());
  EXPECT_EQ(second, nullptr);

  // A blocked lockFile() returns once the holder on another thread lets go.
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    std::unique_ptr<FileLock> third;
    if (env.lockFile(lockPath, third).isOk()) acquired = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(acquired);
  first.reset();
  waiter.join();
  EXPECT_TRUE(acquired);

  ASSERT_TRUE(env.tryLockFile(lockPath, second).isOk());
  EXPECT_TRUE(env.lockFile(this->path("no/folder.lock"), first).isNotFound());
}

TYPED_TEST(EnvTest, SharedCounterIsSeenThroughEveryMapping) {
  Env& env = this->env();
  std::unique_ptr<SharedCounter> writer;
  std::unique_ptr<SharedCounter> reader;
  ASSERT_TRUE(env.mapSharedCounter(this->path("counter"), writer).isOk());
  ASSERT_TRUE(env.mapSharedCounter(this->path("counter"), reader).isOk());
  EXPECT_EQ(reader->load(), 0u);
  EXPECT_EQ(reader->loadTag(), 0u);
  for (int i = 0; i < 5; ++i) writer->increment();
  writer->storeTag(0xFEEDu);
  EXPECT_EQ(reader->load(), 5u);
  EXPECT_EQ(reader->loadTag(), 0xFEEDu);
  EXPECT_TRUE(env.fileExists(this->path("counter")));
  EXPECT_TRUE(env.mapSharedCounter(this->path("no/counter"), writer).isNotFound());
}

TEST(EnvWrapperTest, OverridesOneCallAndForwardsTheRest) {
  auto memory = newMemoryEnv(defaultEnv());
  class FullDisk : public EnvWrapper {
   public:
    using EnvWrapper::EnvWrapper;
    Status createTemporaryFile(const std::string& path, mode_t mode,
                               std::unique_ptr<platform::WritableFile>& file,
                               std::string& temporaryPath) override {
      if (++writes_ == 2) return Status::ioError(path + ": No space left on device");
      return EnvWrapper::createTemporaryFile(path, mode, file, temporaryPath);
    }

   private:
    int writes_ = 0;
  } env(*memory);

  ASSERT_TRUE(env.writeFileAtomically("/file", "one", 0600).isOk());
  EXPECT_EQ(env.writeFileAtomically("/file", "two", 0600).code(), Status::Code::IOError);
  std::string contents;
  ASSERT_TRUE(memory->readFile("/file", platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, "one");
  ASSERT_TRUE(env.readFile("/file", platform::FileKind::PreferenceDomain, contents).isOk());
  EXPECT_EQ(contents, "one");
  EXPECT_EQ(&env.target(), memory.get());
}

TEST(PathTest, ComponentsAndExtensions) {
  struct Case {
    std::string path;
    std::string last;
    std::string parent;
    std::string extension;
    std::string withoutExtension;
  };
  const std::vector<Case> cases = {
      {"/a/b.plist", "b.plist", "/a", "plist", "/a/b"},
      {"/a/b/", "b", "/a", "", "/a/b"},
      {"/a", "a", "/", "", "/a"},
      {"/", "/", "/", "", "/"},
      {"a", "a", "", "", "a"},
      {"", "", "", "", ""},
      {"x.tar.gz", "x.tar.gz", "", "gz", "x.tar"},
      {"/dir.d/file", "file", "/dir.d", "", "/dir.d/file"},
      {"/p/.hidden", ".hidden", "/p", "", "/p/.hidden"},
      {"name.", "name.", "", "", "name."},
      {"//a//b", "b", "//a", "", "//a//b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(lastPathComponent(c.path), c.last);
    EXPECT_EQ(deletingLastPathComponent(c.path), c.parent);
    EXPECT_EQ(pathExtension(c.path), c.extension);
    EXPECT_EQ(deletingPathExtension(c.path), c.withoutExtension);
  }
  EXPECT_EQ(joinPath("/root", "Library"), "/root/Library");
  EXPECT_EQ(joinPath("/root/", "/Library/"), "/root/Library");
  EXPECT_EQ(joinPath("/", "a"), "/a");
  EXPECT_EQ(joinPath("", "a"), "a");
  EXPECT_EQ(joinPath("/a", ""), "/a");
}

}  // namespace
}  // namespace platform
