#include "platform/foundation/Env.h"

#include <memory>
#include <optional>
#include <string>

namespace platform {

Status EnvWrapper::readFile(const std::string& path, FileKind kind, std::string& contents) {
  return target_.readFile(path, kind, contents);
}
Status EnvWrapper::readFileHeld(const std::string& path, FileKind kind, std::string& contents,
                                std::unique_ptr<HeldFile>& held, FileIdentity& identity) {
  return target_.readFileHeld(path, kind, contents, held, identity);
}
Status EnvWrapper::readFileAfter(const std::string& path, FileKind kind, std::size_t offset,
                                 std::string& contents, FileIdentity& identity) {
  return target_.readFileAfter(path, kind, offset, contents, identity);
}
Status EnvWrapper::createTemporaryFile(const std::string& path, mode_t mode,
                                       std::unique_ptr<WritableFile>& file,
                                       std::string& temporaryPath) {
  return target_.createTemporaryFile(path, mode, file, temporaryPath);
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
Status Env::writeFileAtomically(const std::string& path, const std::string& contents, mode_t mode) {
  std::optional<FileIdentity> written;
  return writeFileAtomically(path, contents, mode, written);
}

Status Env::writeFileAtomically(const std::string& path, const std::string& contents, mode_t mode,
                                std::optional<FileIdentity>& written) {
  written.reset();
  std::unique_ptr<WritableFile> file;
  std::string temporary;
  Status status = createTemporaryFile(path, mode, file, temporary);
  if (!status.isOk()) return status;
  status = file->append(contents);
  if (status.isOk()) status = file->sync();
  if (status.isOk()) status = renameFile(temporary, path, AllowOverwrite::Yes);
  if (!status.isOk()) {
    file.reset();
    // Best effort: a temporary file left by a failed removal is the next writer's to clear.
    removeFile(temporary);
    return status;
  }
  // The rename moved the change time: the identity is taken after it, from the file still open.
  if (FileIdentity identity; file->identity(identity).isOk()) written = identity;
  return Status::ok();
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

Status EnvWrapper::resolvePath(const std::string& path, std::string& resolved) {
  return target_.resolvePath(path, resolved);
}

Status Env::resolvePath(const std::string& path, std::string& resolved) {
  resolved = path;
  return Status::ok();
}

}  // namespace platform
