// Files, folders, locks and counters in memory, with the error codes PosixEnv gives for the
// same calls. One mutex guards the whole tree, so the environment may be used from several
// threads, and a blocked lockFile() waits for the holder on another thread to release.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include <cstdio>

#include "platform/foundation/MemoryEnv.h"

namespace platform {
namespace {

// Collapses repeated separators and drops a trailing one, so that "a//b/" and "a/b" name the
// same entry.
std::string normalized(const std::string& path) {
  std::string out;
  out.reserve(path.size());
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::string parentOf(const std::string& path) {
  std::string parent = deletingLastPathComponent(path);
  return parent.empty() ? "." : parent;
}

struct Node {
  bool directory = false;
  std::string contents;
  mode_t mode = 0;
  std::uint64_t inode = 0;
  std::int64_t mtime = 0;
  std::int64_t ctime = 0;
};

// The words of a shared counter: the count, the tag, the base and the length kept.
struct CounterWords {
  std::atomic<std::uint64_t> count{0};
  std::atomic<std::uint64_t> tag{0};
  std::atomic<std::uint64_t> base{0};
  std::atomic<std::uint64_t> kept{0};
};

struct State {
  std::mutex mutex;
  std::condition_variable lockReleased;
  std::map<std::string, Node> nodes;
  std::set<std::string> lockedPaths;
  std::map<std::string, std::shared_ptr<CounterWords>> counters;
  // What a power loss keeps: file entries as of their folder's last flush, and contents by
  // inode as of their last sync.
  std::map<std::string, Node> durable;
  std::map<std::uint64_t, std::string> synced;
  std::uint64_t nextInode = 2;
  std::uint64_t nextTemporary = 1;
  // A logical clock for file times: every change moves it on, so two writes within one
  // clock tick still get different times.
  std::int64_t ticks = 0;
};

FileIdentity identityOf(const Node& node) {
  FileIdentity identity;
  identity.device = 1;
  identity.inode = node.inode;
  identity.size = static_cast<std::int64_t>(node.contents.size());
  identity.mtimeNanoseconds = node.mtime;
  identity.ctimeNanoseconds = node.ctime;
  return identity;
}

// Follows its file by inode, so that it still reaches the file once renamed.
class MemoryWritableFile final : public WritableFile {
 public:
  MemoryWritableFile(std::shared_ptr<State> state, std::string path, std::uint64_t inode,
                     mode_t mode)
      : state_(std::move(state)), path_(std::move(path)), inode_(inode), mode_(mode) {}

  Status append(std::string_view data) override {
    std::lock_guard guard(state_->mutex);
    Node* node = find();
    if (node == nullptr) return Status::ioError(path_ + ": removed while written");
    node->contents.append(data);
    node->mtime = ++state_->ticks;
    return Status::ok();
  }

  Status sync() override {
    std::lock_guard guard(state_->mutex);
    Node* node = find();
    if (node == nullptr) return Status::ioError(path_ + ": removed while written");
    node->mode = mode_;
    state_->synced[inode_] = node->contents;
    return Status::ok();
  }

  Status identity(FileIdentity& identity) override {
    std::lock_guard guard(state_->mutex);
    const Node* node = find();
    if (node == nullptr) return Status::ioError(path_ + ": removed while written");
    identity = identityOf(*node);
    return Status::ok();
  }

 private:
  // REQUIRES: state_->mutex is held by the caller.
  Node* find() {
    auto it = state_->nodes.find(path_);
    if (it != state_->nodes.end() && it->second.inode == inode_) return &it->second;
    for (auto& [path, node] : state_->nodes) {
      if (node.inode == inode_) return &node;
    }
    return nullptr;
  }

  const std::shared_ptr<State> state_;
  const std::string path_;
  const std::uint64_t inode_;
  const mode_t mode_;
};

class MemoryFileLock final : public FileLock {
 public:
  MemoryFileLock(std::shared_ptr<State> state, std::string path)
      : state_(std::move(state)), path_(std::move(path)) {}
  ~MemoryFileLock() override {
    {
      std::lock_guard guard(state_->mutex);
      state_->lockedPaths.erase(path_);
    }
    state_->lockReleased.notify_all();
  }

 private:
  const std::shared_ptr<State> state_;
  const std::string path_;
};

class MemoryHeldFile final : public HeldFile {};

class MemorySharedCounter final : public SharedCounter {
 public:
  using Words = CounterWords;
  explicit MemorySharedCounter(std::shared_ptr<Words> words) : words_(std::move(words)) {}
  std::uint64_t load() const override { return words_->count.load(); }
  void increment() override { words_->count.fetch_add(1); }
  std::uint64_t loadTag() const override { return words_->tag.load(); }
  void storeTag(std::uint64_t tag) override { words_->tag.store(tag); }
  std::uint64_t loadBase() const override { return words_->base.load(); }
  std::uint64_t loadKept() const override { return words_->kept.load(); }
  void storeBase(std::uint64_t base, std::uint64_t kept) override {
    words_->kept.store(kept);
    words_->base.store(base);
  }

 private:
  const std::shared_ptr<Words> words_;
};

class MemoryEnvImpl final : public MemoryEnv {
 public:
  explicit MemoryEnvImpl(Env& base) : base_(base), state_(std::make_shared<State>()) {
    Node root;
    root.directory = true;
    root.inode = 1;
    state_->nodes["/"] = root;
    state_->nodes["."] = root;
  }

  Status readFile(const std::string& rawPath, FileKind kind, std::string& contents) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    return copyContents(*node, path, kind, contents);
  }

  Status readFileHeld(const std::string& rawPath, FileKind kind, std::string& contents,
                      std::unique_ptr<HeldFile>& held, FileIdentity& identity) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    Status status = copyContents(*node, path, kind, contents);
    identity = identityOf(*node);
    // Inode numbers are never reused here, so holding needs no resource.
    held = std::make_unique<MemoryHeldFile>();
    return status;
  }

  Status readFileAfter(const std::string& rawPath, FileKind kind, std::size_t offset,
                       std::string& contents, FileIdentity& identity) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) {
      contents.resize(offset);
      return Status::notFound(path + ": No such file or directory");
    }
    identity = identityOf(*node);
    std::string whole;
    Status status = copyContents(*node, path, kind, whole);
    if (status.isOk() && whole.size() < offset) {
      status = Status::corruption(path + ": shorter than the part already read");
    }
    if (!status.isOk()) {
      contents.resize(offset);
      return status;
    }
    contents.replace(offset, std::string::npos, whole, offset);
    return status;
  }

  Status createTemporaryFile(const std::string& rawPath, mode_t mode,
                             std::unique_ptr<WritableFile>& file,
                             std::string& temporaryPath) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const std::string folder = parentOf(path);
    Status parent = requireFolder(folder, path);
    if (!parent.isOk()) return parent;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx",
                  static_cast<unsigned long long>(state_->nextTemporary++));
    temporaryPath = joinPath(folder, "." + lastPathComponent(path) + suffix + ".tmp");
    Node node = newFile("", mode);
    state_->nodes[temporaryPath] = node;
    touchFolderOf(temporaryPath);
    file = std::make_unique<MemoryWritableFile>(state_, temporaryPath, node.inode, mode);
    return Status::ok();
  }

  Status flushFolder(const std::string& rawPath) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    if (!node->directory) return Status::ioError(path + ": Not a directory");
    std::erase_if(state_->durable,
                  [&](const auto& entry) { return parentOf(entry.first) == path; });
    for (const auto& [entry, child] : state_->nodes) {
      if (!child.directory && entry != path && parentOf(entry) == path) {
        state_->durable[entry] = child;
      }
    }
    return Status::ok();
  }

  void dropUnflushed() override {
    std::lock_guard guard(state_->mutex);
    std::map<std::string, Node> kept;
    for (const auto& [path, node] : state_->nodes) {
      if (node.directory) kept.emplace(path, node);
    }
    for (const auto& [path, node] : state_->durable) {
      auto folder = kept.find(parentOf(path));
      if (folder == kept.end() || !folder->second.directory) continue;
      Node file = node;
      auto contents = state_->synced.find(node.inode);
      file.contents = contents == state_->synced.end() ? std::string() : contents->second;
      kept.emplace(path, std::move(file));
    }
    state_->nodes = std::move(kept);
    state_->counters.clear();
  }

  Status fileIdentity(const std::string& rawPath, FileIdentity& identity) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    identity = identityOf(*node);
    return Status::ok();
  }

  bool fileExists(const std::string& rawPath) override {
    std::lock_guard guard(state_->mutex);
    return find(normalized(rawPath)) != nullptr;
  }

  bool isDirectory(const std::string& rawPath) override {
    std::lock_guard guard(state_->mutex);
    const Node* node = find(normalized(rawPath));
    return node != nullptr && node->directory;
  }

  Status lockFile(const std::string& rawPath, std::unique_ptr<FileLock>& lock) override {
    return takeLock(normalized(rawPath), /*wait=*/true, lock);
  }

  Status tryLockFile(const std::string& rawPath, std::unique_ptr<FileLock>& lock) override {
    return takeLock(normalized(rawPath), /*wait=*/false, lock);
  }

  Status listDirectory(const std::string& rawPath, std::vector<std::string>& names) override {
    const std::string path = normalized(rawPath);
    names.clear();
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    if (!node->directory) return Status::notFound(path + ": Not a directory");
    for (const auto& [entry, child] : state_->nodes) {
      if (entry != path && parentOf(entry) == path) names.push_back(lastPathComponent(entry));
    }
    std::sort(names.begin(), names.end());
    return Status::ok();
  }

  Status createDirectories(const std::string& rawPath, mode_t mode) override {
    const std::string path = normalized(rawPath);
    if (path.empty()) return Status::invalidArgument("empty folder path");
    std::lock_guard guard(state_->mutex);
    std::vector<std::string> missing;
    for (std::string folder = path;; folder = parentOf(folder)) {
      const Node* node = find(folder);
      if (node != nullptr) {
        if (!node->directory) return Status::ioError(folder + ": exists and is not a folder");
        break;
      }
      missing.push_back(folder);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      Node node = newFile("", mode);
      node.directory = true;
      state_->nodes[*it] = node;
      touchFolderOf(*it);
    }
    return Status::ok();
  }

  Status removeFile(const std::string& rawPath) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    if (node->directory) return Status::ioError(path + ": Is a directory");
    state_->nodes.erase(path);
    touchFolderOf(path);
    return Status::ok();
  }

  Status renameFile(const std::string& rawFrom, const std::string& rawTo,
                    AllowOverwrite overwrite) override {
    const std::string from = normalized(rawFrom);
    const std::string to = normalized(rawTo);
    std::lock_guard guard(state_->mutex);
    const Node* source = find(from);
    if (source == nullptr) return Status::notFound(from + ": No such file or directory");
    Status parent = requireFolder(parentOf(to), from);
    if (!parent.isOk()) return parent;
    if (from == to) return Status::ok();
    if (const Node* target = find(to)) {
      if (overwrite == AllowOverwrite::No) return Status::ioError(to + ": already exists");
      if (target->directory != source->directory) {
        return Status::ioError(to + (target->directory ? ": Is a directory" : ": Not a directory"));
      }
      if (target->directory && hasChildren(to)) {
        return Status::ioError(to + ": Directory not empty");
      }
    }
    if (source->directory && to.starts_with(from + "/")) {
      return Status::invalidArgument(to + ": inside " + from);
    }
    // A rename keeps the inode and moves a folder's whole subtree; only the change time moves.
    Node moved = *source;
    moved.ctime = ++state_->ticks;
    std::vector<std::pair<std::string, Node>> children;
    const std::string prefix = from + "/";
    for (auto it = state_->nodes.lower_bound(prefix);
         it != state_->nodes.end() && it->first.starts_with(prefix);) {
      children.emplace_back(to + "/" + it->first.substr(prefix.size()), it->second);
      it = state_->nodes.erase(it);
    }
    state_->nodes.erase(from);
    state_->nodes[to] = moved;
    for (auto& [path, node] : children) state_->nodes[path] = std::move(node);
    touchFolderOf(from);
    touchFolderOf(to);
    return Status::ok();
  }

  Status mapSharedCounter(const std::string& rawPath,
                          std::unique_ptr<SharedCounter>& counter) override {
    const std::string path = normalized(rawPath);
    std::lock_guard guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) {
      Status parent = requireFolder(parentOf(path), path);
      if (!parent.isOk()) return parent;
      state_->nodes[path] = newFile(std::string(sizeof(std::uint64_t), '\0'), 0600);
      touchFolderOf(path);
    } else if (node->directory) {
      return Status::ioError(path + ": Is a directory");
    }
    auto& value = state_->counters[path];
    if (!value) value = std::make_shared<CounterWords>();
    counter = std::make_unique<MemorySharedCounter>(value);
    return Status::ok();
  }

  double now() override { return base_.now(); }

  std::optional<std::string> getEnvironment(const std::string& name) override {
    return base_.getEnvironment(name);
  }

 private:
  // REQUIRES: state_->mutex is held by the caller.
  const Node* find(const std::string& path) const {
    auto it = state_->nodes.find(path);
    return it == state_->nodes.end() ? nullptr : &it->second;
  }

  bool hasChildren(const std::string& folder) const {
    auto it = state_->nodes.lower_bound(folder + "/");
    return it != state_->nodes.end() && it->first.starts_with(folder + "/");
  }

  Status requireFolder(const std::string& folder, const std::string& path) const {
    const Node* node = find(folder);
    if (node == nullptr) return Status::notFound(path + ": No such file or directory");
    if (!node->directory) return Status::notFound(path + ": Not a directory");
    return Status::ok();
  }

  Node newFile(std::string contents, mode_t mode) {
    Node node;
    node.contents = std::move(contents);
    node.mode = mode;
    node.inode = state_->nextInode++;
    node.mtime = node.ctime = ++state_->ticks;
    return node;
  }

  // A folder's times move when an entry is added, removed or replaced, as on a disk, so that
  // a listing can be known unchanged by the folder's identity.
  void touchFolderOf(const std::string& path) {
    auto folder = state_->nodes.find(parentOf(path));
    if (folder != state_->nodes.end() && folder->second.directory) {
      folder->second.mtime = folder->second.ctime = ++state_->ticks;
    }
  }

  static Status copyContents(const Node& node, const std::string& path, FileKind kind,
                             std::string& contents) {
    contents.clear();
    if (node.directory) return Status::corruption(path + ": not a regular file");
    if (static_cast<std::int64_t>(node.contents.size()) > maximumFileSize(kind)) {
      return Status::corruption(path + ": over the size cap of its kind");
    }
    contents = node.contents;
    return Status::ok();
  }

  Status takeLock(const std::string& path, bool wait, std::unique_ptr<FileLock>& lock) {
    std::unique_lock guard(state_->mutex);
    const Node* node = find(path);
    if (node == nullptr) {
      Status parent = requireFolder(parentOf(path), path);
      if (!parent.isOk()) return parent;
      state_->nodes[path] = newFile("", 0600);
      touchFolderOf(path);
    } else if (node->directory) {
      return Status::ioError(path + ": Is a directory");
    }
    if (state_->lockedPaths.count(path) != 0) {
      if (!wait) return Status::busy(path + ": Resource temporarily unavailable");
      const auto bound = std::chrono::duration<double>(kDomainLockWaitSeconds);
      if (!state_->lockReleased.wait_for(guard, bound,
                                         [&] { return state_->lockedPaths.count(path) == 0; })) {
        return Status::busy(path + ": held elsewhere for more than the lock wait bound");
      }
    }
    state_->lockedPaths.insert(path);
    lock = std::make_unique<MemoryFileLock>(state_, path);
    return Status::ok();
  }

  Env& base_;
  const std::shared_ptr<State> state_;
};

}  // namespace

std::unique_ptr<MemoryEnv> MemoryEnv::create(Env& base) {
  return std::make_unique<MemoryEnvImpl>(base);
}

std::unique_ptr<Env> newMemoryEnv(Env& base) {
  return MemoryEnv::create(base);
}

}  // namespace platform
