// Folders held open for looks relative to them.
#include <fcntl.h>
#include <sys/stat.h>

#include "PosixFiles_p.h"

namespace platform::posix {
namespace {

// The catalogue looks at a few files in each of thousands of bundles under one folder: each
// look relative to the open folder walks only the relative path.
class PosixOpenFolder final : public OpenFolder {
 public:
  explicit PosixOpenFolder(int fd) : fd_(fd) {}
  Status fileIdentity(const char* relativePath, FileIdentity& identity) override {
    if (*relativePath == '\0' || *relativePath == '/') {
      return Status::invalidArgument(std::string("not a relative path: ") + relativePath);
    }
    struct stat st {};
    if (::fstatat(fd_.get(), relativePath, &st, 0) != 0) {
      return Status::fromErrno(errno, relativePath);
    }
    identity = identityOf(st);
    return Status::ok();
  }
  bool answersConcurrently() const override { return true; }

 private:
  FileDescriptor fd_;
};

}  // namespace

Status openPosixFolder(const std::string& path, std::unique_ptr<OpenFolder>& folder) {
  const int fd =
      retryOnInterrupt([&] { return ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
  if (fd < 0) return Status::fromErrno(errno, path);
  folder = std::make_unique<PosixOpenFolder>(fd);
  return Status::ok();
}

}  // namespace platform::posix
