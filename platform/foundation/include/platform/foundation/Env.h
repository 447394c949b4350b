// Everything the system needs from the operating system, behind one interface (as an
// environment abstraction does in an embedded database): files, locks, folders, the clock and
// environment variables, and where a path leads (a program finding its installed folder).
// Nothing else in the code calls POSIX for these. PosixEnv is the real
// one; MemoryEnv keeps files in memory for unit tests; EnvWrapper forwards every call so a test
// can override one (a full disk, a failing rename, a held lock, a file turned to garbage).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Export.h"
#include "platform/foundation/Limits.h"
#include "platform/foundation/Status.h"

namespace platform {

// What identifies one version of a file: a replaced or rewritten file differs in at least one
// field. A freed inode number may pass to a later file; a file written by writeFileAtomically
// still differs from every earlier one, because its modification time is stamped from the fine
// clock (a file replaced by other means within the same clock tick of the file system may not).
struct HX_PLATFORM_EXPORT FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtimeNanoseconds = 0;
  std::int64_t ctimeNanoseconds = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An exclusive lock held while the object lives (flock on a lock file for PosixEnv); the
// kernel drops it when the process dies, so it never goes stale.
class HX_PLATFORM_EXPORT FileLock {
 public:
  virtual ~FileLock() = default;
};

// A file kept open so that its inode, and so its identity, stays reserved.
class HX_PLATFORM_EXPORT HeldFile {
 public:
  virtual ~HeldFile() = default;
};

// A folder held open, so that the files under it are looked at without walking the folder's own
// path again for each one (see Env::openFolder).
class HX_PLATFORM_EXPORT OpenFolder {
 public:
  virtual ~OpenFolder() = default;
  // The identity of the file at `relativePath` under the folder, as Env::fileIdentity()
  // gives it for the joined path while the folder stays where it was. InvalidArgument for an
  // empty path or one that starts with '/'.
  virtual Status fileIdentity(const char* relativePath, FileIdentity& identity) = 0;
  // Whether fileIdentity() may be called from several threads at once. False unless the
  // folder says so: a wrapping Env (a test's, failing its Nth call) sees its calls in order.
  virtual bool answersConcurrently() const { return false; }
};

// A 64-bit counter shared by every process that maps the same path (shared memory for
// PosixEnv), with more words that a writer sets before it counts: the tag, to say what the
// counted change left behind, and before it the base with a length, to say what the change kept
// of what was there before. Reading any makes no system call; all start at zero.
class HX_PLATFORM_EXPORT SharedCounter {
 public:
  virtual ~SharedCounter() = default;
  virtual std::uint64_t load() const = 0;
  virtual void increment() = 0;
  virtual std::uint64_t loadTag() const = 0;
  virtual void storeTag(std::uint64_t tag) = 0;
  virtual std::uint64_t loadBase() const = 0;
  virtual std::uint64_t loadKept() const = 0;
  // Stores `kept`, then `base`.
  virtual void storeBase(std::uint64_t base, std::uint64_t kept) = 0;
};

// A new file open for writing. Destroying it closes the file, never removes it.
class HX_PLATFORM_EXPORT WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual Status append(std::string_view data) = 0;
  // Gives the file the mode it was created for (whatever the umask), stamps its modification
  // time from the fine clock and flushes its contents to disk.
  virtual Status sync() = 0;
  // The identity of the open file itself (fstat), wherever it has been renamed to since.
  virtual Status identity(FileIdentity& identity) = 0;
};

enum class AllowOverwrite { No, Yes };

class HX_PLATFORM_EXPORT Env {
 public:
  Env() = default;
  virtual ~Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // Reads the whole file into `contents`. NotFound when it does not exist. Every read is
  // bounded and never blocks: only a regular file is read (a FIFO, a device, a folder or a
  // socket is never read from), and only up to maximumFileSize(kind). Corruption, with
  // `contents` empty, when the path names something other than a regular file or a file
  // larger than the cap of its kind; callers treat that as an unreadable file.
  virtual Status readFile(const std::string& path, FileKind kind, std::string& contents) = 0;
  // Reads the whole file as readFile does, keeps it open in `held` and reports the identity
  // of what was read. On Corruption `held` and `identity` are still set (for what is at the
  // path), so that a caller can tell later whether the refused file was replaced.
  virtual Status readFileHeld(const std::string& path, FileKind kind, std::string& contents,
                              std::unique_ptr<HeldFile>& held, FileIdentity& identity) = 0;
  // Reads the file as readFileHeld does, except for its first `offset` bytes, which `contents`
  // already holds (the caller knows them to be unchanged): those stay, and the rest of the file
  // replaces whatever followed them. Reports the identity of the file read. Corruption as for
  // readFile and for a file shorter than `offset`; on any failure `contents` is cut back to its
  // first `offset` bytes.
  // REQUIRES: `contents` holds at least `offset` bytes.
  virtual Status readFileAfter(const std::string& path, FileKind kind, std::size_t offset,
                               std::string& contents, FileIdentity& identity) = 0;
  // Creates a new file `.NAME.<16 hex digits>.tmp` beside `path` (whose last component is
  // NAME), exclusively, for `mode`, and opens it for writing; `temporaryPath` names it.
  virtual Status createTemporaryFile(const std::string& path, mode_t mode,
                                     std::unique_ptr<WritableFile>& file,
                                     std::string& temporaryPath) = 0;
  // Writes `contents` to a temporary file beside `path`, flushes it to disk and renames it over
  // `path`, so that readers see the old or the new file, never a torn one; the temporary file
  // is removed when a step fails. After a crash the path holds the old file or the new one; only
  // flushFolder() makes the rename itself survive a power loss. The folder must exist. Every
  // step is one of the calls above, so a wrapper sees (and may fail) each of them. With
  // `written`, the identity of the file now at `path`, taken from the written file itself (so
  // another writer's file renamed there meanwhile is never mistaken for it); left unset when
  // that fstat fails, though the file is in place.
  Status writeFileAtomically(const std::string& path, const std::string& contents, mode_t mode);
  Status writeFileAtomically(const std::string& path, const std::string& contents, mode_t mode,
                             std::optional<FileIdentity>& written);
  // Flushes the folder's entries to disk, so that files renamed into it survive a power loss.
  virtual Status flushFolder(const std::string& path) = 0;
  // The identity of the file now at `path`; NotFound when there is none.
  virtual Status fileIdentity(const std::string& path, FileIdentity& identity) = 0;
  virtual bool fileExists(const std::string& path) = 0;
  virtual bool isDirectory(const std::string& path) = 0;
  // Takes the exclusive lock on `path` (created 0600 when missing), waiting at most
  // kDomainLockWaitSeconds for another holder; Busy, naming the bound, past it. The bound holds
  // whatever the calling thread's signal mask, and no signal is used: PosixEnv polls (50 us,
  // doubling to 2 ms), and every taker first passes a turnstile (a lock on the file's first
  // byte, held while it waits), so a holder that unlocks and locks again at once queues behind
  // a waiter. Against a holder that re-locks at once after 0.5 ms, a waiter takes the lock in
  // 0.28 ms at p50 and 0.6 ms at most (a blocking flock: 0.73 ms, and up to 70 ms; polling
  // without the turnstile gave up after 2 s in half the tries).
  virtual Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) = 0;
  // Busy, without waiting, when another holder has it.
  virtual Status tryLockFile(const std::string& path, std::unique_ptr<FileLock>& lock) = 0;
  // The names (not paths) in a folder, sorted; "." and ".." left out.
  virtual Status listDirectory(const std::string& path, std::vector<std::string>& names) = 0;
  // The same, with the identity of the folder listed (its times move whenever an entry is
  // added, removed or renamed). By default the identity is taken first, then the folder
  // listed, each through the calls above, so a wrapper that overrides them is obeyed.
  virtual Status listDirectoryWithIdentity(const std::string& path, std::vector<std::string>& names,
                                           FileIdentity& identity);
  // Holds the folder at `path` open for OpenFolder::fileIdentity(). By default the folder
  // answers through fileIdentity() with the joined path, so a wrapper that overrides that is
  // obeyed; PosixEnv looks relative to the open folder.
  virtual Status openFolder(const std::string& path, std::unique_ptr<OpenFolder>& folder);
  // Creates the folder and its missing parents with `mode`.
  virtual Status createDirectories(const std::string& path, mode_t mode) = 0;
  virtual Status removeFile(const std::string& path) = 0;
  // Renames `from` to `to`; with AllowOverwrite::No fails (IOError) when `to` exists.
  virtual Status renameFile(const std::string& from, const std::string& to,
                            AllowOverwrite overwrite) = 0;
  // Maps the counter kept in the file at `path` (created when missing).
  virtual Status mapSharedCounter(const std::string& path,
                                  std::unique_ptr<SharedCounter>& counter) = 0;
  // Seconds since 1970-01-01T00:00:00Z, with fractions.
  virtual double now() = 0;
  // An environment variable; empty when unset.
  virtual std::optional<std::string> getEnvironment(const std::string& name) = 0;
  // The absolute path `path` names once every symbolic link in it is followed (how a program
  // finds the folder it was installed in, through /proc/self/exe). NotFound when it names
  // nothing. By default the path as given: an Env without links.
  virtual Status resolvePath(const std::string& path, std::string& resolved);
};

// The real environment over POSIX. The instance lives for the whole process.
HX_PLATFORM_EXPORT Env& defaultEnv();

// Forwards every call to `target`, which must outlive the wrapper.
class HX_PLATFORM_EXPORT EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }
  Status readFile(const std::string& path, FileKind kind, std::string& contents) override;
  Status readFileHeld(const std::string& path, FileKind kind, std::string& contents,
                      std::unique_ptr<HeldFile>& held, FileIdentity& identity) override;
  Status readFileAfter(const std::string& path, FileKind kind, std::size_t offset,
                       std::string& contents, FileIdentity& identity) override;
  Status createTemporaryFile(const std::string& path, mode_t mode,
                             std::unique_ptr<WritableFile>& file,
                             std::string& temporaryPath) override;
  Status flushFolder(const std::string& path) override;
  Status fileIdentity(const std::string& path, FileIdentity& identity) override;
  bool fileExists(const std::string& path) override;
  bool isDirectory(const std::string& path) override;
  Status lockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override;
  Status tryLockFile(const std::string& path, std::unique_ptr<FileLock>& lock) override;
  Status listDirectory(const std::string& path, std::vector<std::string>& names) override;
  Status createDirectories(const std::string& path, mode_t mode) override;
  Status removeFile(const std::string& path) override;
  Status renameFile(const std::string& from, const std::string& to,
                    AllowOverwrite overwrite) override;
  Status mapSharedCounter(const std::string& path,
                          std::unique_ptr<SharedCounter>& counter) override;
  double now() override;
  std::optional<std::string> getEnvironment(const std::string& name) override;
  Status resolvePath(const std::string& path, std::string& resolved) override;

 private:
  Env& target_;
};

// Files, folders, locks and counters in memory. The clock and the environment come from
// `base`, which must outlive this object. Locks exclude each other within the MemoryEnv.
HX_PLATFORM_EXPORT std::unique_ptr<Env> newMemoryEnv(Env& base);

// Path helpers (pure string operations).
HX_PLATFORM_EXPORT std::string joinPath(const std::string& folder, const std::string& name);
HX_PLATFORM_EXPORT std::string lastPathComponent(const std::string& path);
HX_PLATFORM_EXPORT std::string deletingLastPathComponent(const std::string& path);
HX_PLATFORM_EXPORT std::string deletingPathExtension(const std::string& name);
HX_PLATFORM_EXPORT std::string pathExtension(const std::string& name);

}  // namespace platform
