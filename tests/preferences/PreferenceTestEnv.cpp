#include "PreferenceTestEnv.h"

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

Status PreferenceTestEnv::readFile(const std::string& path, platform::FileKind kind,
                                   std::string& contents) {
  if (enter(Call::ReadFile)) return injected(path);
  return EnvWrapper::readFile(path, kind, contents);
}

Status PreferenceTestEnv::readFileHeld(const std::string& path, platform::FileKind kind,
                                       std::string& contents,
                                       std::unique_ptr<platform::HeldFile>& held,
                                       platform::FileIdentity& identity) {
  if (enter(Call::ReadFileHeld)) return injected(path);
  return EnvWrapper::readFileHeld(path, kind, contents, held, identity);
}

Status PreferenceTestEnv::createTemporaryFile(const std::string& path, mode_t mode,
                                              std::unique_ptr<platform::WritableFile>& file,
                                              std::string& temporaryPath) {
  if (enter(Call::CreateTemporaryFile)) return injected(path);
  return EnvWrapper::createTemporaryFile(path, mode, file, temporaryPath);
}

Status PreferenceTestEnv::flushFolder(const std::string& path) {
  if (enter(Call::FlushFolder)) return injected(path);
  return EnvWrapper::flushFolder(path);
}

Status PreferenceTestEnv::fileIdentity(const std::string& path, platform::FileIdentity& identity) {
  if (enter(Call::FileIdentity)) return injected(path);
  return EnvWrapper::fileIdentity(path, identity);
}

bool PreferenceTestEnv::fileExists(const std::string& path) {
  if (enter(Call::FileExists)) return false;
  return EnvWrapper::fileExists(path);
}

bool PreferenceTestEnv::isDirectory(const std::string& path) {
  if (enter(Call::IsDirectory)) return false;
  return EnvWrapper::isDirectory(path);
}

Status PreferenceTestEnv::lockFile(const std::string& path,
                                   std::unique_ptr<platform::FileLock>& lock) {
  if (enter(Call::LockFile)) return injected(path);
  return EnvWrapper::lockFile(path, lock);
}

Status PreferenceTestEnv::tryLockFile(const std::string& path,
                                      std::unique_ptr<platform::FileLock>& lock) {
  if (enter(Call::TryLockFile)) return injected(path);
  return EnvWrapper::tryLockFile(path, lock);
}

Status PreferenceTestEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  if (enter(Call::ListDirectory)) return injected(path);
  return EnvWrapper::listDirectory(path, names);
}

Status PreferenceTestEnv::createDirectories(const std::string& path, mode_t mode) {
  if (enter(Call::CreateDirectories)) return injected(path);
  return EnvWrapper::createDirectories(path, mode);
}

Status PreferenceTestEnv::removeFile(const std::string& path) {
  if (enter(Call::RemoveFile)) return injected(path);
  return EnvWrapper::removeFile(path);
}

Status PreferenceTestEnv::renameFile(const std::string& from, const std::string& to,
                                     platform::AllowOverwrite overwrite) {
  if (enter(Call::RenameFile)) return injected(from);
  return EnvWrapper::renameFile(from, to, overwrite);
}

Status PreferenceTestEnv::mapSharedCounter(const std::string& path,
                                           std::unique_ptr<platform::SharedCounter>& counter) {
  if (enter(Call::MapSharedCounter)) return injected(path);
  return EnvWrapper::mapSharedCounter(path, counter);
}

}  // namespace hxtest
