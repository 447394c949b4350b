// The real environment: every call goes straight to POSIX on the caller's thread.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <utility>

#include "PosixFiles_p.h"
#include "platform/foundation/Env.h"

namespace platform {
namespace {

using posix::FileDescriptor;
using posix::identityOf;
using posix::retryOnInterrupt;

// Reads to the end of the file, refusing more than `limit` bytes: the size fstat gave may grow
// while the file is read. With `expected` (that size) the bytes go straight into the buffer in
// one read, and a reused buffer of that size is not even cleared first. From `start` on (the
// file read from there too), the bytes before it kept, also when the read fails.
Status readAll(int fd, const std::string& path, std::int64_t limit, std::string& contents,
               std::size_t expected = 0, std::size_t start = 0) {
  contents.resize(expected);
  std::size_t got = start;
  char spill[16 * 1024];
  while (true) {
    const bool full = got == contents.size();
    char* into = full ? spill : contents.data() + got;
    const std::size_t room = full ? sizeof spill : contents.size() - got;
    const ssize_t n = ::read(fd, into, room);
    if (n < 0) {
      if (errno == EINTR) continue;
      contents.resize(start);
      return Status::fromErrno(errno, path);
    }
    if (n == 0) {
      contents.resize(got);
      return Status::ok();
    }
    if (static_cast<std::int64_t>(got) + n > limit) {
      contents.resize(start);
      return Status::corruption(path + ": grew past the size cap while being read");
    }
    if (full) contents.append(spill, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
  }
}

// Opens `path` for a bounded read: without blocking (a FIFO opened for reading would wait for a
// writer), and only when it is a regular file within the cap of `kind`.
Status openForReading(const std::string& path, FileKind kind, FileDescriptor& fd, struct stat& st) {
  fd.reset(retryOnInterrupt(
      [&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); }));
  if (fd.get() < 0) return Status::fromErrno(errno, path);
  if (::fstat(fd.get(), &st) != 0) return Status::fromErrno(errno, path);
  if (!S_ISREG(st.st_mode)) return Status::corruption(path + ": not a regular file");
  if (st.st_size > maximumFileSize(kind)) {
    return Status::corruption(path + ": " + std::to_string(st.st_size) +
                              " bytes, over the cap of " + std::to_string(maximumFileSize(kind)));
  }
  return Status::ok();
}

std::string folderOf(const std::string& path) {
  std::string folder = deletingLastPathComponent(path);
  return folder.empty() ? "." : folder;
}

class PosixHeldFile final : public HeldFile {
 public:
  explicit PosixHeldFile(int fd) : fd_(fd) {}

 private:
  FileDescriptor fd_;
};

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path, mode_t mode)
      : fd_(fd), path_(std::move(path)), mode_(mode) {}

  Status append(std::string_view data) override {
    std::size_t written = 0;
    while (written < data.size()) {
      const ssize_t n = ::write(fd_.get(), data.data() + written, data.size() - written);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::fromErrno(errno, path_);
      }
      written += static_cast<std::size_t>(n);
    }
    return Status::ok();
  }

  Status sync() override {
    if (::fchmod(fd_.get(), mode_) != 0) return Status::fromErrno(errno, path_);
    // The file system stamps times from a coarse clock: two files written within one tick, the
    // later one on the inode number the earlier one freed, could otherwise look the same to
    // readers that no longer hold the earlier file open.
    timespec times[2] = {{0, UTIME_OMIT}, {}};
    ::clock_gettime(CLOCK_REALTIME, &times[1]);
    if (::futimens(fd_.get(), times) != 0) return Status::fromErrno(errno, path_);
    if (::fsync(fd_.get()) != 0) return Status::fromErrno(errno, path_);
    return Status::ok();
  }

  Status identity(FileIdentity& identity) override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) return Status::fromErrno(errno, path_);
    identity = identityOf(st);
    return Status::ok();
  }

 private:
  FileDescriptor fd_;
  const std::string path_;
  const mode_t mode_;
};

class PosixFileLock final : public FileLock {
 public:
  // Closing the descriptor releases the flock.
  explicit PosixFileLock(int fd) : fd_(fd) {}

 private:
  FileDescriptor fd_;
};

class PosixSharedCounter final : public SharedCounter {
 public:
  explicit PosixSharedCounter(void* mapping) : mapping_(mapping) {}
  ~PosixSharedCounter() override { ::munmap(mapping_, kSize); }
  std::uint64_t load() const override { return word(0).load(std::memory_order_acquire); }
  void increment() override { word(0).fetch_add(1, std::memory_order_acq_rel); }
  std::uint64_t loadTag() const override { return word(1).load(std::memory_order_acquire); }
  void storeTag(std::uint64_t tag) override { word(1).store(tag, std::memory_order_release); }
  std::uint64_t loadBase() const override { return word(2).load(std::memory_order_acquire); }
  std::uint64_t loadKept() const override { return word(3).load(std::memory_order_acquire); }
  void storeBase(std::uint64_t base, std::uint64_t kept) override {
    word(3).store(kept, std::memory_order_release);
    word(2).store(base, std::memory_order_release);
  }

  // The count, the tag, the base and the length kept (a counter file made with fewer words grows
  // zero ones).
  static constexpr std::size_t kSize = 4 * sizeof(std::uint64_t);

 private:
  // The mapping is page-aligned, so the words are suitably aligned for atomic access, and
  // every process that maps the file sees the same words.
  std::atomic_ref<std::uint64_t> word(std::size_t index) const {
    return std::atomic_ref<std::uint64_t>(static_cast<std::uint64_t*>(mapping_)[index]);
  }
  void* const mapping_;
};

// The turnstile of a lock file: a write lock on its first byte (an open-file-description lock,
// which flock does not see). Every taker passes it before trying the flock and lets it go once
// through, so a holder that unlocks and locks again at once finds a waiter standing in the
// turnstile and waits behind it, instead of taking the lock back before the waiter looks again.
bool setTurnstile(int fd, short type) {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

// Tries `attempt` until it succeeds or `end` passes, sleeping 50 us at first and doubling to
// 2 ms between tries. Nothing here waits in the kernel for the lock, so no signal is needed to
// bound the wait, whatever the calling thread's signal mask.
bool retryUntil(const auto& attempt, std::chrono::steady_clock::time_point end) {
  auto pause = std::chrono::microseconds(50);
  while (!attempt()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(2000));
  }
  return true;
}

// Takes the turnstile, then the flock, within `wait` (zero: one try each).
Status acquireLock(int fd, const std::string& path, std::chrono::duration<double> wait) {
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait);
  const auto busy = [&] {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", wait.count());
    return Status::busy(path + ": held by another process for more than " + seconds + " s");
  };
  // Each attempt ends the wait on success (error 0) or on an error other than "held".
  int error = 0;
  const auto turnstile = [&] {
    error = setTurnstile(fd, F_WRLCK) ? 0 : errno;
    return error != EAGAIN && error != EACCES && error != EINTR;
  };
  // The turnstile is waited for half the bound at most: its holder may be a waiter that was
  // stopped (a suspended job, a debugger), and it must not keep a free lock from everyone. A file
  // system without byte-range locks has no turnstile; the flock alone still excludes.
  const auto turnstileEnd =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait / 2);
  bool queued = false;
  if (retryUntil(turnstile, turnstileEnd)) {
    queued = error == 0;
    if (!queued && error != EINVAL && error != ENOLCK && error != EOPNOTSUPP) {
      return Status::fromErrno(error, path);
    }
  }
  const auto lock = [&] {
    error = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
    return error != EWOULDBLOCK && error != EINTR;
  };
  const bool done = retryUntil(lock, end);
  if (queued) setTurnstile(fd, F_UNLCK);
  if (!done) return busy();
  return error == 0 ? Status::ok() : Status::fromErrno(error, path);
}

class PosixEnv final : public Env {
 public:
  PosixEnv() = default;
  ~PosixEnv() override {
    std::fputs("the default environment was destroyed; it must live for the whole process\n",
               stderr);
    std::abort();
  }

  Status readFile(const std::string& path, FileKind kind, std::string& contents) override {
    FileDescriptor fd;
    struct stat st {};
    Status status = openForReading(path, kind, fd, st);
    if (!status.isOk()) {
      contents.clear();
      return status;
    }
    return readAll(fd.get(), path, maximumFileSize(kind), contents,
                   static_cast<std::size_t>(st.st_size));
  }

  Status readFileHeld(const std::string& path, FileKind kind, std::string& contents,
                      std::unique_ptr<HeldFile>& held, FileIdentity& identity) override {
    FileDescriptor fd;
    struct stat st {};
    Status status = openForReading(path, kind, fd, st);
    if (status.isOk()) {
      status = readAll(fd.get(), path, maximumFileSize(kind), contents,
                       static_cast<std::size_t>(st.st_size));
    } else {
      contents.clear();
    }
    if (!status.isOk() && status.code() != Status::Code::Corruption) return status;
    identity = identityOf(st);
    held = std::make_unique<PosixHeldFile>(fd.release());
    return status;
  }

  Status readFileAfter(const std::string& path, FileKind kind, std::size_t offset,
                       std::string& contents, FileIdentity& identity) override {
    FileDescriptor fd;
    struct stat st {};
    Status status = openForReading(path, kind, fd, st);
    if (status.isOk() && static_cast<std::size_t>(st.st_size) < offset) {
      status = Status::corruption(path + ": shorter than the part already read");
    }
    if (status.isOk() && ::lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
      status = Status::fromErrno(errno, path);
    }
    if (status.isOk()) {
      status = readAll(fd.get(), path, maximumFileSize(kind), contents,
                       static_cast<std::size_t>(st.st_size), offset);
    } else {
      contents.resize(offset);
    }
    identity = identityOf(st);
    return status;
  }

  Status createTemporaryFile(const std::string& path, mode_t mode,
                             std::unique_ptr<WritableFile>& file,
                             std::string& temporaryPath) override {
    const std::string folder = folderOf(path);
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random()));
      std::string temporary = joinPath(folder, "." + lastPathComponent(path) + suffix + ".tmp");
      const int opened = retryOnInterrupt(
          [&] { return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); });
      if (opened >= 0) {
        file = std::make_unique<PosixWritableFile>(opened, temporary, mode);
        temporaryPath = std::move(temporary);
        return Status::ok();
      }
      if (errno != EEXIST) return Status::fromErrno(errno, temporary);
    }
    return Status::ioError(path + ": no free temporary name");
  }

  Status flushFolder(const std::string& path) override {
    FileDescriptor fd(
        retryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (fd.get() < 0) return Status::fromErrno(errno, path);
    if (::fsync(fd.get()) != 0) return Status::fromErrno(errno, path);
    return Status::ok();
  }

  Status fileIdentity(const std::string& path, FileIdentity& identity) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Status::fromErrno(errno, path);
    identity = identityOf(st);
    return Status::ok();
  }

  Status openFolder(const std::string& path, std::unique_ptr<OpenFolder>& folder) override {
    return posix::openPosixFolder(path, folder);
  }

  bool fileExists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  bool isDirectory(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override {
    return takeLock(path, std::chrono::duration<double>(kDomainLockWaitSeconds), lock);
  }

  Status tryLockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override {
    return takeLock(path, std::chrono::duration<double>::zero(), lock);
  }

  Status listDirectory(const std::string& path, std::vector<std::string>& names) override {
    return list(path, names, nullptr);
  }

  Status listDirectoryWithIdentity(const std::string& path, std::vector<std::string>& names,
                                   FileIdentity& identity) override {
    return list(path, names, &identity);
  }

  // The catalogue lists every application's folder, so this reads the entries straight into
  // a buffer on the stack, without a directory stream's allocation.
  static Status list(const std::string& path, std::vector<std::string>& names,
                     FileIdentity* identity) {
    names.clear();
    FileDescriptor fd(
        retryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (fd.get() < 0) return Status::fromErrno(errno, path);
    if (identity != nullptr) {
      struct stat st {};
      if (::fstat(fd.get(), &st) != 0) return Status::fromErrno(errno, path);
      *identity = identityOf(st);
    }
    alignas(dirent64) char buffer[16 * 1024];
    while (true) {
      const ssize_t n = ::getdents64(fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::fromErrno(errno, path);
      }
      if (n == 0) break;
      for (ssize_t offset = 0; offset < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + offset);
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
        offset += entry->d_reclen;
      }
    }
    std::sort(names.begin(), names.end());
    return Status::ok();
  }

  Status createDirectories(const std::string& path, mode_t mode) override {
    if (path.empty()) return Status::invalidArgument("empty folder path");
    std::size_t position = 0;
    while (position != std::string::npos) {
      position = path.find('/', position + 1);
      const std::string prefix = path.substr(0, position);
      if (prefix.empty() || prefix.back() == '/') continue;
      if (::mkdir(prefix.c_str(), mode) == 0) continue;
      const int error = errno;
      if (error == EEXIST) {
        if (isDirectory(prefix)) continue;
        return Status::ioError(prefix + ": exists and is not a folder");
      }
      return Status::fromErrno(error, prefix);
    }
    return Status::ok();
  }

  Status removeFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return Status::fromErrno(errno, path);
    return Status::ok();
  }

  Status renameFile(const std::string& from, const std::string& to,
                    AllowOverwrite overwrite) override {
    if (overwrite == AllowOverwrite::Yes) {
      if (::rename(from.c_str(), to.c_str()) != 0) return Status::fromErrno(errno, from);
      return Status::ok();
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
      return Status::ok();
    }
    if (errno != EINVAL && errno != ENOSYS) {
      if (errno == EEXIST) return Status::ioError(to + ": already exists");
      return Status::fromErrno(errno, from);
    }
    // A file system without RENAME_NOREPLACE: a hard link fails on an existing target just
    // as atomically.
    if (::link(from.c_str(), to.c_str()) != 0) {
      if (errno == EEXIST) return Status::ioError(to + ": already exists");
      return Status::fromErrno(errno, from);
    }
    ::unlink(from.c_str());
    return Status::ok();
  }

  Status mapSharedCounter(const std::string& path,
                          std::unique_ptr<SharedCounter>& counter) override {
    FileDescriptor fd(
        retryOnInterrupt([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); }));
    if (fd.get() < 0) return Status::fromErrno(errno, path);
    // The words' block is allocated for real, not left a hole as growing the file with
    // ftruncate would: a mapped hole faults (SIGBUS) at the first touch when the disk is full.
    // Allocating never changes data already there, so a concurrent creator, or a counter
    // already in use, keeps its value; a short file grows zero-filled. Without space the
    // caller does without a counter.
    if (const int error = posix_fallocate(fd.get(), 0, PosixSharedCounter::kSize); error != 0) {
      return Status::fromErrno(error, path);
    }
    void* mapping =
        ::mmap(nullptr, PosixSharedCounter::kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (mapping == MAP_FAILED) return Status::fromErrno(errno, path);
    counter = std::make_unique<PosixSharedCounter>(mapping);
    return Status::ok();
  }

  double now() override {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  }

  std::optional<std::string> getEnvironment(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  Status resolvePath(const std::string& path, std::string& resolved) override {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real == nullptr) return Status::fromErrno(errno, path);
    resolved = real.get();
    return Status::ok();
  }

 private:
  // flock has no timeout, and interrupting a blocked flock takes a signal, which a thread that
  // blocks every signal never receives and which is the host's to own. So the wait polls, and
  // the turnstile keeps it fair (see Env.h).
  Status takeLock(const std::string& path, std::chrono::duration<double> wait,
                  std::unique_ptr<FileLock>& lock) {
    FileDescriptor fd(
        retryOnInterrupt([&] { return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); }));
    if (fd.get() < 0) return Status::fromErrno(errno, path);
    Status status = acquireLock(fd.get(), path, wait);
    if (!status.isOk()) return status;
    lock = std::make_unique<PosixFileLock>(fd.release());
    return Status::ok();
  }
};

}  // namespace

Env& defaultEnv() {
  // Built in static storage and never destroyed, so that it outlives every static object
  // that might still use it during exit.
  alignas(PosixEnv) static unsigned char storage[sizeof(PosixEnv)];
  static PosixEnv* env = new (storage) PosixEnv();
  return *env;
}

}  // namespace platform
