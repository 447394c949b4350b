#include "PreferenceDomain_p.h"

#include <string>
#include <utility>

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/preferences/PreferenceStore.h"

namespace platform {

namespace {

constexpr mode_t kFileMode = 0600;
constexpr mode_t kDirectoryMode = 0700;
// Far more than any folder will hold; only guards the search for a free name against an
// Env that claims every name exists.
constexpr int kMaxAsideIndex = 100000;

const Value& noValue() {
  static const Value none;
  return none;
}

}  // namespace

bool isStorableEntry(std::string_view key, const Value& value) {
  // The writer is the judge: a check of the kinds alone would let in text that is not
  // UTF-8, which the writer refuses, and the entry would then block every later write.
  return value.isPropertyList() &&
         serializePropertyList(Value::dictionary({{std::string(key), value}}), PlistFormat::Binary)
             .has_value();
}

PreferenceDomain::PreferenceDomain(Env& env, const std::string& directory, std::string name)
    : env_(env),
      name_(std::move(name)),
      directory_(directory),
      path_(joinPath(directory, name_ + ".plist")),
      lockPath_(path_ + ".lock"),
      counterPath_(path_ + ".counter") {}

const Value& PreferenceDomain::lookup(std::string_view key) {
  if (!read_) {
    refresh();
    publishState();
  }
  if (!pending_.empty()) {
    auto it = pending_.find(key);
    if (it != pending_.end()) return it->second;
  }
  auto it = stored_.find(key);
  return it == stored_.end() ? noValue() : it->second;
}

void PreferenceDomain::set(std::string_view key, const Value& value) {
  if (!read_) refresh();
  // An unchanged value marks nothing, but only a current view can tell: when the counter
  // moved, another process may have stored something else, so the key is marked and the
  // write compares it with the file instead (and writes nothing if it matches).
  const auto counter = counterValue();
  const bool viewIsCurrent = valid_ && counter && counterSeen_ && *counter == *counterSeen_;
  if (viewIsCurrent && identicalPropertyLists(lookup(key), value)) return;
  pending_.insert_or_assign(std::string(key), value);
}

bool PreferenceDomain::synchronize() {
  if (pending_.empty()) {
    // Nobody wrote since the last read: one load from shared memory, no system call.
    if (valid_ && counter_ && counterSeen_ && counter_->load() == *counterSeen_) return true;
    refresh();
    return valid_;
  }
  std::unique_ptr<FileLock> lock;
  if (!lockDomain(lock) || !refreshLocked()) return false;
  return writeLocked();
}

Value PreferenceDomain::update(std::string_view key,
                               const std::function<Value(const Value&)>& change) {
  std::unique_ptr<FileLock> lock;
  if (!lockDomain(lock) || !refreshLocked()) return lookup(key);

  const Value current = lookup(key);
  Value result = change(current);
  if (!result.isNone() && !isStorableEntry(key, result)) {
    NSLog("PreferenceStore: refused the value for a key in domain " + name_ +
          ": the entry is not a property list that can be stored");
    return current;
  }

  std::optional<Value> previous;
  if (auto it = pending_.find(key); it != pending_.end()) previous = it->second;
  if (!identicalPropertyLists(current, result)) {
    pending_.insert_or_assign(std::string(key), std::move(result));
  }
  if (!writeLocked()) {
    // The change was computed from this read; kept pending, it could later overwrite what
    // another process stored since, which is exactly what this operation exists to prevent.
    if (previous) {
      pending_.insert_or_assign(std::string(key), std::move(*previous));
    } else if (auto it = pending_.find(key); it != pending_.end()) {
      pending_.erase(it);
    }
    auto it = stored_.find(key);
    return it == stored_.end() ? Value() : it->second;
  }
  return lookup(key);
}

void PreferenceDomain::publishState() {
  publishedCounter_.store(counter_.get(), std::memory_order_release);
  const bool clean = valid_ && pending_.empty() && counter_ && counterSeen_;
  cleanAt_.store(clean ? *counterSeen_ : kNotClean, std::memory_order_release);
}

void PreferenceDomain::refresh() {
  read_ = true;
  if (!counter_) mapCounter();
  const auto before = counterValue();
  if (valid_ && before && before == counterSeen_) return;

  FileIdentity identity;
  const Status status = env_.fileIdentity(path_, identity);
  if (!(valid_ && matchesLastRead(status, identity)) && !readFromDisk()) return;
  counterSeen_ = before;
}

bool PreferenceDomain::readFromDisk() {
  std::string contents;
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  const Status status =
      env_.readFileHeld(path_, FileKind::PreferenceDomain, contents, held, identity);
  if (status.isNotFound()) {
    stored_.clear();
    held_.reset();
    identity_.reset();
    unreadable_ = false;
    valid_ = true;
    return true;
  }
  // Corruption: not a regular file, or over the size cap; as unreadable as a malformed file.
  const bool refused = status.code() == Status::Code::Corruption;
  if (!status.isOk() && !refused) {
    // Keep the last view; `valid_` off makes the next synchronisation try again.
    NSLog("PreferenceStore: cannot read domain " + name_ + ": " + status.toString());
    valid_ = false;
    return false;
  }

  std::optional<Value> root;
  if (!refused) root = parsePropertyList(contents);
  if (root && root->isDictionary()) {
    stored_ = std::move(root->mutableDictionary());
    unreadable_ = false;
  } else {
    stored_.clear();
    if (!unreadable_ || !identity_ || !(*identity_ == identity)) {
      NSLog("PreferenceStore: " +
            (refused ? status.message() : path_ + " is not a dictionary property list") +
            "; it reads as empty and is moved aside before the next write");
    }
    unreadable_ = true;
  }
  held_ = std::move(held);
  identity_ = identity;
  valid_ = true;
  return true;
}

bool PreferenceDomain::matchesLastRead(const Status& status, const FileIdentity& identity) const {
  if (!valid_) return false;
  if (status.isNotFound()) return !identity_.has_value();
  return status.isOk() && identity_ && *identity_ == identity;
}

void PreferenceDomain::mapCounter() {
  std::unique_ptr<SharedCounter> counter;
  if (env_.mapSharedCounter(counterPath_, counter).isOk()) counter_ = std::move(counter);
}

std::optional<std::uint64_t> PreferenceDomain::counterValue() const {
  if (!counter_) return std::nullopt;
  return counter_->load();
}

bool PreferenceDomain::lockDomain(std::unique_ptr<FileLock>& lock) {
  read_ = true;
  Status status = env_.lockFile(lockPath_, lock);
  if (status.isNotFound()) {
    // The folder does not exist yet: the first write of any domain creates it.
    status = env_.createDirectories(directory_, kDirectoryMode);
    if (status.isOk()) status = env_.lockFile(lockPath_, lock);
  }
  if (!status.isOk()) {
    NSLog("PreferenceStore: cannot lock domain " + name_ + ": " + status.toString());
    return false;
  }
  if (!counter_) mapCounter();
  return true;
}

bool PreferenceDomain::refreshLocked() {
  const auto before = counterValue();
  FileIdentity identity;
  const Status status = env_.fileIdentity(path_, identity);
  if (!status.isOk() && !status.isNotFound()) {
    NSLog("PreferenceStore: cannot examine domain " + name_ + ": " + status.toString());
    return false;
  }
  if (!matchesLastRead(status, identity)) {
    // A file that changed while the counter stayed put was replaced by a writer that died
    // before counting, or by hand; count it now so that readers notice it too.
    const bool missedByCounter = valid_ && before && counterSeen_ && *before == *counterSeen_;
    if (!readFromDisk()) return false;
    if (missedByCounter) counter_->increment();
  }
  counterSeen_ = counterValue();
  return true;
}

bool PreferenceDomain::writeLocked() {
  Value::Dictionary merged = stored_;
  bool differs = false;
  for (const auto& [key, value] : pending_) {
    auto it = merged.find(key);
    if (value.isNone()) {
      if (it != merged.end()) {
        merged.erase(it);
        differs = true;
      }
    } else if (it == merged.end()) {
      merged.emplace(key, value);
      differs = true;
    } else if (!identicalPropertyLists(it->second, value)) {
      it->second = value;
      differs = true;
    }
  }
  if (!differs) {
    pending_.clear();
    return true;
  }
  if (unreadable_ && !moveUnreadableFileAside()) return false;

  Value root(std::move(merged));
  const std::optional<std::string> bytes = serializePropertyList(root, PlistFormat::Binary);
  if (!bytes) {
    NSLog("PreferenceStore: cannot encode domain " + name_);
    return false;
  }
  const Status status = env_.writeFileAtomically(path_, *bytes, kFileMode);
  if (!status.isOk()) {
    NSLog("PreferenceStore: cannot write domain " + name_ + ": " + status.toString());
    return false;
  }
  if (counter_) counter_->increment();
  stored_ = std::move(root.mutableDictionary());
  pending_.clear();

  // Keep the new file open as the last one read, so that the next replacement cannot reuse
  // its inode number and pass for it. Its contents are ours; there is nothing to parse.
  std::string contents;
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  if (env_.readFileHeld(path_, FileKind::PreferenceDomain, contents, held, identity).isOk()) {
    held_ = std::move(held);
    identity_ = identity;
    unreadable_ = false;
    valid_ = true;
  } else {
    valid_ = false;
  }
  counterSeen_ = counterValue();
  return true;
}

bool PreferenceDomain::moveUnreadableFileAside() {
  for (int index = 1; index <= kMaxAsideIndex; ++index) {
    const std::string aside = path_ + ".corrupt-" + std::to_string(index);
    if (env_.fileExists(aside)) continue;
    const Status status = env_.renameFile(path_, aside, AllowOverwrite::No);
    if (status.isOk()) {
      NSLog("PreferenceStore: moved the unreadable " + path_ + " aside to " + aside);
      held_.reset();
      identity_.reset();
      unreadable_ = false;
      if (counter_) counter_->increment();
      counterSeen_ = counterValue();
      return true;
    }
    if (env_.fileExists(aside)) continue;  // the name was taken meanwhile
    NSLog("PreferenceStore: cannot move the unreadable " + path_ + " aside: " + status.toString());
    return false;
  }
  NSLog("PreferenceStore: no free name to move the unreadable " + path_ + " aside");
  return false;
}

}  // namespace platform
