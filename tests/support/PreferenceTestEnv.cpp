#include "PreferenceTestEnv.h"

#include <functional>
#include <utility>

namespace hxtest {

using platform::Status;

namespace {

Status injected(const std::string& path) {
  return Status::ioError(path + ": injected failure");
}

}  // namespace

int PreferenceTestEnv::totalCalls() const {
  int total = 0;
  for (const auto& count : counts_) total += count.load();
  return total;
}

void PreferenceTestEnv::resetCounts() {
  for (auto& count : counts_) count.store(0);
}

void PreferenceTestEnv::failCall(Call call, int nth, int times) {
  std::lock_guard guard(mutex_);
  failures_[index(call)] = Failure{nth - 1, times};
}

void PreferenceTestEnv::clearFailures() {
  std::lock_guard guard(mutex_);
  failures_.fill(Failure{});
}

bool PreferenceTestEnv::enter(Call call) {
  ++counts_[index(call)];
  std::lock_guard guard(mutex_);
  Failure& failure = failures_[index(call)];
  if (failure.remaining == 0) return false;
  if (failure.skip > 0) {
    --failure.skip;
    return false;
  }
  if (failure.remaining > 0) --failure.remaining;
  return true;
}

Status PreferenceTestEnv::intercept(Call call, const std::string& path) {
  return enter(call) ? injected(path) : Status::ok();
}

namespace {

// Passes the written file's own steps through the Env's intercept().
class InterceptedFile final : public platform::WritableFile {
 public:
  using Intercept = std::function<Status(PreferenceTestEnv::Call)>;
  InterceptedFile(std::unique_ptr<platform::WritableFile> file, Intercept intercept)
      : file_(std::move(file)), intercept_(std::move(intercept)) {}
  Status append(std::string_view data) override {
    Status status = intercept_(PreferenceTestEnv::Call::Append);
    return status.isOk() ? file_->append(data) : status;
  }
  Status sync() override {
    Status status = intercept_(PreferenceTestEnv::Call::Sync);
    return status.isOk() ? file_->sync() : status;
  }
  Status identity(platform::FileIdentity& identity) override {
    Status status = intercept_(PreferenceTestEnv::Call::WrittenIdentity);
    return status.isOk() ? file_->identity(identity) : status;
  }

 private:
  const std::unique_ptr<platform::WritableFile> file_;
  const Intercept intercept_;
};

}  // namespace

Status PreferenceTestEnv::readFile(const std::string& path, platform::FileKind kind,
                                   std::string& contents) {
  if (Status status = intercept(Call::ReadFile, path); !status.isOk()) return status;
  return EnvWrapper::readFile(path, kind, contents);
}

Status PreferenceTestEnv::readFileHeld(const std::string& path, platform::FileKind kind,
                                       std::string& contents,
                                       std::unique_ptr<platform::HeldFile>& held,
                                       platform::FileIdentity& identity) {
  if (Status status = intercept(Call::ReadFileHeld, path); !status.isOk()) return status;
  return EnvWrapper::readFileHeld(path, kind, contents, held, identity);
}

Status PreferenceTestEnv::readFileAfter(const std::string& path, platform::FileKind kind,
                                        std::size_t offset, std::string& contents,
                                        platform::FileIdentity& identity) {
  if (Status status = intercept(Call::ReadFileAfter, path); !status.isOk()) return status;
  return EnvWrapper::readFileAfter(path, kind, offset, contents, identity);
}

Status PreferenceTestEnv::createTemporaryFile(const std::string& path, mode_t mode,
                                              std::unique_ptr<platform::WritableFile>& file,
                                              std::string& temporaryPath) {
  if (Status status = intercept(Call::CreateTemporaryFile, path); !status.isOk()) return status;
  std::unique_ptr<platform::WritableFile> inner;
  Status status = EnvWrapper::createTemporaryFile(path, mode, inner, temporaryPath);
  if (!status.isOk()) return status;
  file = std::make_unique<InterceptedFile>(std::move(inner), [this, temporaryPath](Call call) {
    return intercept(call, temporaryPath);
  });
  return status;
}

Status PreferenceTestEnv::flushFolder(const std::string& path) {
  if (Status status = intercept(Call::FlushFolder, path); !status.isOk()) return status;
  return EnvWrapper::flushFolder(path);
}

Status PreferenceTestEnv::fileIdentity(const std::string& path, platform::FileIdentity& identity) {
  if (Status status = intercept(Call::FileIdentity, path); !status.isOk()) return status;
  return EnvWrapper::fileIdentity(path, identity);
}

bool PreferenceTestEnv::fileExists(const std::string& path) {
  if (!intercept(Call::FileExists, path).isOk()) return false;
  return EnvWrapper::fileExists(path);
}

bool PreferenceTestEnv::isDirectory(const std::string& path) {
  if (!intercept(Call::IsDirectory, path).isOk()) return false;
  return EnvWrapper::isDirectory(path);
}

Status PreferenceTestEnv::lockFile(const std::string& path,
                                   std::unique_ptr<platform::FileLock>& lock) {
  if (Status status = intercept(Call::LockFile, path); !status.isOk()) return status;
  return EnvWrapper::lockFile(path, lock);
}

Status PreferenceTestEnv::tryLockFile(const std::string& path,
                                      std::unique_ptr<platform::FileLock>& lock) {
  if (Status status = intercept(Call::TryLockFile, path); !status.isOk()) return status;
  return EnvWrapper::tryLockFile(path, lock);
}

Status PreferenceTestEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  if (Status status = intercept(Call::ListDirectory, path); !status.isOk()) return status;
  return EnvWrapper::listDirectory(path, names);
}

Status PreferenceTestEnv::createDirectories(const std::string& path, mode_t mode) {
  if (Status status = intercept(Call::CreateDirectories, path); !status.isOk()) return status;
  return EnvWrapper::createDirectories(path, mode);
}

Status PreferenceTestEnv::removeFile(const std::string& path) {
  if (Status status = intercept(Call::RemoveFile, path); !status.isOk()) return status;
  return EnvWrapper::removeFile(path);
}

Status PreferenceTestEnv::renameFile(const std::string& from, const std::string& to,
                                     platform::AllowOverwrite overwrite) {
  if (Status status = intercept(Call::RenameFile, from); !status.isOk()) return status;
  return EnvWrapper::renameFile(from, to, overwrite);
}

Status PreferenceTestEnv::mapSharedCounter(const std::string& path,
                                           std::unique_ptr<platform::SharedCounter>& counter) {
  if (Status status = intercept(Call::MapSharedCounter, path); !status.isOk()) return status;
  return EnvWrapper::mapSharedCounter(path, counter);
}

}  // namespace hxtest
