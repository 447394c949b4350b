#include "FaultEnv.h"

namespace hxtest {

using platform::Status;

void FaultEnv::failNth(int nth) {
  std::lock_guard lock(mutex_);
  armedAt_ = nth;
  calls_ = 0;
  fired_ = false;
}

void FaultEnv::failEvery(Call kind) {
  std::lock_guard lock(mutex_);
  failing_.insert(kind);
}

void FaultEnv::clear() {
  std::lock_guard lock(mutex_);
  failing_.clear();
  armedAt_ = 0;
}

int FaultEnv::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

bool FaultEnv::fired() const {
  std::lock_guard lock(mutex_);
  return fired_;
}

std::optional<Status> FaultEnv::fault(Call kind, const std::string& path) {
  std::lock_guard lock(mutex_);
  bool fail = failing_.contains(kind);
  if (armedAt_ > 0 && ++calls_ == armedAt_) fail = fired_ = true;
  if (!fail) return std::nullopt;
  return Status::ioError(path + ": Input/output error (injected)");
}

#define HX_FAULT_OR(kind, path, call)                    \
  if (auto failure = fault(kind, path)) return *failure; \
  return call

Status FaultEnv::readFile(const std::string& path, platform::FileKind kind, std::string& contents) {
  HX_FAULT_OR(Call::Read, path, EnvWrapper::readFile(path, kind, contents));
}
Status FaultEnv::readFileHeld(const std::string& path, platform::FileKind kind,
                              std::string& contents, std::unique_ptr<platform::HeldFile>& held,
                              platform::FileIdentity& identity) {
  HX_FAULT_OR(Call::Read, path, EnvWrapper::readFileHeld(path, kind, contents, held, identity));
}
Status FaultEnv::writeFileAtomically(const std::string& path, const std::string& contents,
                                     mode_t mode) {
  HX_FAULT_OR(Call::Write, path, EnvWrapper::writeFileAtomically(path, contents, mode));
}
Status FaultEnv::flushFolder(const std::string& path) {
  HX_FAULT_OR(Call::FlushFolder, path, EnvWrapper::flushFolder(path));
}
Status FaultEnv::fileIdentity(const std::string& path, platform::FileIdentity& identity) {
  HX_FAULT_OR(Call::Identity, path, EnvWrapper::fileIdentity(path, identity));
}
Status FaultEnv::lockFile(const std::string& path, std::unique_ptr<platform::FileLock>& lock) {
  HX_FAULT_OR(Call::Lock, path, EnvWrapper::lockFile(path, lock));
}
Status FaultEnv::tryLockFile(const std::string& path, std::unique_ptr<platform::FileLock>& lock) {
  HX_FAULT_OR(Call::Lock, path, EnvWrapper::tryLockFile(path, lock));
}
Status FaultEnv::listDirectory(const std::string& path, std::vector<std::string>& names) {
  HX_FAULT_OR(Call::List, path, EnvWrapper::listDirectory(path, names));
}
Status FaultEnv::createDirectories(const std::string& path, mode_t mode) {
  HX_FAULT_OR(Call::CreateFolders, path, EnvWrapper::createDirectories(path, mode));
}
Status FaultEnv::removeFile(const std::string& path) {
  HX_FAULT_OR(Call::Remove, path, EnvWrapper::removeFile(path));
}
Status FaultEnv::renameFile(const std::string& from, const std::string& to,
                            platform::AllowOverwrite overwrite) {
  HX_FAULT_OR(Call::Rename, from, EnvWrapper::renameFile(from, to, overwrite));
}
Status FaultEnv::mapSharedCounter(const std::string& path,
                                  std::unique_ptr<platform::SharedCounter>& counter) {
  HX_FAULT_OR(Call::MapCounter, path, EnvWrapper::mapSharedCounter(path, counter));
}

#undef HX_FAULT_OR

}  // namespace hxtest
