// What the POSIX environment's sources share: descriptors closed on scope exit, calls retried
// on EINTR, identities from stat results, and the open folders of Env::openFolder.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "platform/foundation/Env.h"

namespace platform::posix {

// Calls `call` again while it fails with EINTR.
inline int retryOnInterrupt(const auto& call) {
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// Closes the descriptor it holds when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

inline FileIdentity identityOf(const struct stat& st) {
  FileIdentity identity;
  identity.device = static_cast<std::uint64_t>(st.st_dev);
  identity.inode = static_cast<std::uint64_t>(st.st_ino);
  identity.size = static_cast<std::int64_t>(st.st_size);
  identity.mtimeNanoseconds =
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.ctimeNanoseconds =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return identity;
}

// Opens the folder at `path` (O_PATH) for OpenFolder::fileIdentity, which then stats relative
// to it (fstatat), following symbolic links as stat does.
Status openPosixFolder(const std::string& path, std::unique_ptr<OpenFolder>& folder);

}  // namespace platform::posix
