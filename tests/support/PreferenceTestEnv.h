// An Env for failure-path tests: forwards to a target, counts every call by kind, and fails
// chosen calls on demand (a full disk on the Nth write, a failing rename, a lock held
// elsewhere, an unreadable file).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/foundation/Env.h"

namespace hxtest {

class PreferenceTestEnv : public platform::EnvWrapper {
 public:
  enum class Call : std::size_t {
    ReadFile,
    ReadFileHeld,
    ReadFileAfter,
    CreateTemporaryFile,  // the first step of every atomic write
    Append,               // the written file's steps: write, fsync, fstat
    Sync,
    WrittenIdentity,
    FileIdentity,
    FileExists,
    IsDirectory,
    LockFile,
    TryLockFile,
    ListDirectory,
    CreateDirectories,
    RemoveFile,
    RenameFile,
    MapSharedCounter,
    FlushFolder,
    Count
  };

  using EnvWrapper::EnvWrapper;

  int count(Call call) const { return counts_[index(call)].load(); }
  // Every call except the clock and the environment.
  int totalCalls() const;
  void resetCounts();
  // The calls of kind `call` fail with an I/O error, starting with the `nth` next one, for
  // `times` calls (negative: until cleared).
  void failCall(Call call, int nth = 1, int times = 1);
  void clearFailures();

  platform::Status readFile(const std::string& path, platform::FileKind kind,
                            std::string& contents) override;
  platform::Status readFileHeld(const std::string& path, platform::FileKind kind,
                                std::string& contents, std::unique_ptr<platform::HeldFile>& held,
                                platform::FileIdentity& identity) override;
  platform::Status readFileAfter(const std::string& path, platform::FileKind kind,
                                 std::size_t offset, std::string& contents,
                                 platform::FileIdentity& identity) override;
  platform::Status createTemporaryFile(const std::string& path, mode_t mode,
                                       std::unique_ptr<platform::WritableFile>& file,
                                       std::string& temporaryPath) override;
  platform::Status flushFolder(const std::string& path) override;
  platform::Status fileIdentity(const std::string& path, platform::FileIdentity& identity) override;
  bool fileExists(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
  platform::Status lockFile(const std::string& path,
                            std::unique_ptr<platform::FileLock>& lock) override;
  platform::Status tryLockFile(const std::string& path,
                               std::unique_ptr<platform::FileLock>& lock) override;
  platform::Status listDirectory(const std::string& path, std::vector<std::string>& names) override;
  platform::Status createDirectories(const std::string& path, mode_t mode) override;
  platform::Status removeFile(const std::string& path) override;
  platform::Status renameFile(const std::string& from, const std::string& to,
                              platform::AllowOverwrite overwrite) override;
  platform::Status mapSharedCounter(const std::string& path,
                                    std::unique_ptr<platform::SharedCounter>& counter) override;

 protected:
  // Every call passes here first; a failed status is answered instead of the call (false for
  // the calls that answer a bool). By default: the failures set by failCall().
  virtual platform::Status intercept(Call call, const std::string& path);

 private:
  static constexpr std::size_t index(Call call) { return static_cast<std::size_t>(call); }
  static constexpr std::size_t kCalls = static_cast<std::size_t>(Call::Count);
  // Counts the call and answers whether it is to fail.
  bool enter(Call call);

  std::array<std::atomic<int>, kCalls> counts_{};
  std::mutex mutex_;
  struct Failure {
    int skip = 0;
    int remaining = 0;
  };
  std::array<Failure, kCalls> failures_{};
};

}  // namespace hxtest
