// An Env for the Settings pages under faults: forwards to a target, and fails the Nth
// fallible call from the moment it is armed (an I/O error, as a full disk or a failing device
// gives), or every call of one kind until cleared. Counts the calls it sees while armed, so
// that a sweep knows when an action ran to its end without reaching the armed call.
#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/Env.h"

namespace hxtest {

class FaultEnv : public platform::EnvWrapper {
 public:
  enum class Call {
    Read,
    Write,
    FlushFolder,
    Identity,
    Lock,
    List,
    CreateFolders,
    Remove,
    Rename,
    MapCounter
  };

  using EnvWrapper::EnvWrapper;

  // The `nth` fallible call from now (1 = the next one) fails; the count starts at zero.
  void failNth(int nth);
  // Every call of `kind` fails until clear().
  void failEvery(Call kind);
  void clear();
  // Fallible calls seen since failNth, and whether the armed one has failed.
  int calls() const;
  bool fired() const;

  platform::Status readFile(const std::string& path, platform::FileKind kind,
                            std::string& contents) override;
  platform::Status readFileHeld(const std::string& path, platform::FileKind kind,
                                std::string& contents, std::unique_ptr<platform::HeldFile>& held,
                                platform::FileIdentity& identity) override;
  platform::Status writeFileAtomically(const std::string& path, const std::string& contents,
                                       mode_t mode) override;
  platform::Status flushFolder(const std::string& path) override;
  platform::Status fileIdentity(const std::string& path, platform::FileIdentity& identity) override;
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

 private:
  // Counts the call; an injected failure for it, or none.
  std::optional<platform::Status> fault(Call kind, const std::string& path);

  mutable std::mutex mutex_;
  std::set<Call> failing_;
  int armedAt_ = 0;  // 0: not armed
  int calls_ = 0;
  bool fired_ = false;
};

}  // namespace hxtest
