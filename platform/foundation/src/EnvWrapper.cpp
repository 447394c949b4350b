#include "platform/foundation/Env.h"

namespace platform {

Status EnvWrapper::readFile(const std::string& path, FileKind kind, std::string& contents) {
  return target_.readFile(path, kind, contents);
}
Status EnvWrapper::readFileHeld(const std::string& path, FileKind kind, std::string& contents,
                                std::unique_ptr<HeldFile>& held, FileIdentity& identity) {
  return target_.readFileHeld(path, kind, contents, held, identity);
}
Status EnvWrapper::writeFileAtomically(const std::string& path, const std::string& contents,
                                       mode_t mode) {
  return target_.writeFileAtomically(path, contents, mode);
}
Status EnvWrapper::flushFolder(const std::string& path) {
  return target_.flushFolder(path);
}
Status EnvWrapper::fileIdentity(const std::string& path, FileIdentity& identity) {
  return target_.fileIdentity(path, identity);
}
bool EnvWrapper::fileExists(const std::string& path) {
  return target_.fileExists(path);
}
bool EnvWrapper::isDirectory(const std::string& path) {
  return target_.isDirectory(path);
}
Status EnvWrapper::lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) {
  return target_.lockFile(path, lock);
}
Status EnvWrapper::tryLockFile(const std::string& path, std::unique_ptr<FileLock>& lock) {
  return target_.tryLockFile(path, lock);
}
Status Env::listDirectoryWithIdentity(const std::string& path, std::vector<std::string>& names,
                                      FileIdentity& identity) {
  Status status = fileIdentity(path, identity);
  return status.isOk() ? listDirectory(path, names) : status;
}

Status Env::openFolder(const std::string& path, std::unique_ptr<OpenFolder>& folder) {
  class JoinedFolder final : public OpenFolder {
   public:
    JoinedFolder(Env& env, std::string path) : env_(env), path_(std::move(path)) {}
    Status fileIdentity(const char* relativePath, FileIdentity& identity) override {
      // As strict as PosixEnv's: joining would forgive a leading '/' that fstatat takes as an
      // absolute path.
      if (*relativePath == '\0' || *relativePath == '/') {
        return Status::invalidArgument(std::string("not a relative path: ") + relativePath);
      }
      return env_.fileIdentity(joinPath(path_, relativePath), identity);
    }

   private:
    Env& env_;
    const std::string path_;
  };
  FileIdentity identity;
  if (Status status = fileIdentity(path, identity); !status.isOk()) return status;
  folder = std::make_unique<JoinedFolder>(*this, path);
  return Status::ok();
}

Status EnvWrapper::listDirectory(const std::string& path, std::vector<std::string>& names) {
  return target_.listDirectory(path, names);
}
Status EnvWrapper::createDirectories(const std::string& path, mode_t mode) {
  return target_.createDirectories(path, mode);
}
Status EnvWrapper::removeFile(const std::string& path) {
  return target_.removeFile(path);
}
Status EnvWrapper::renameFile(const std::string& from, const std::string& to,
                              AllowOverwrite overwrite) {
  return target_.renameFile(from, to, overwrite);
}
Status EnvWrapper::mapSharedCounter(const std::string& path,
                                    std::unique_ptr<SharedCounter>& counter) {
  return target_.mapSharedCounter(path, counter);
}
double EnvWrapper::now() {
  return target_.now();
}
std::optional<std::string> EnvWrapper::getEnvironment(const std::string& name) {
  return target_.getEnvironment(name);
}

}  // namespace platform
