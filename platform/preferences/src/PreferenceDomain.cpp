#include "PreferenceDomain_p.h"

#include <string>
#include <utility>

#include "platform/foundation/BinaryPlist.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/WriteOutcome.h"
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
  // The domain's own writer is the judge, with the caps its reader holds a domain file to: a
  // check of the kinds alone would let in text that is not UTF-8, and a lenient encoder would let
  // in what the domain write then refuses; either would hold back every later write.
  // The builder refuses what is not a property list, walking a shared container once; a walk of
  // the value itself would visit a shared container each time it is referred to.
  BinaryPlistBuilder builder;
  const auto keyRef = builder.addString(key);
  const auto valueRef = keyRef ? builder.add(value) : std::nullopt;
  if (!valueRef) return false;
  const auto root = builder.addDictionary({{*keyRef, *valueRef}});
  return !builder.extent(root).refusal(FileKind::PreferenceDomain);
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
  const Value* stored = stored_.find(key);
  if (stored == nullptr && stored_.damaged() && !unreadable_) markUnreadable();
  return stored == nullptr ? noValue() : *stored;
}

std::optional<bool> PreferenceDomain::arrayHoldsText(std::string_view key, std::string_view text) {
  if (!read_) {
    refresh();
    publishState();
  }
  if (pending_.contains(key)) return std::nullopt;
  return stored_.arrayHoldsText(key, text);
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

bool PreferenceDomain::synchronize(WriteOutcome& outcome) {
  outcome = WriteOutcome::Stored;
  if (pending_.empty()) {
    // At most the folder of an earlier write still owes its flush. That change is in the file
    // whatever happens now, so a failure here makes it not durable, never not stored; and a
    // folder flush needs no lock.
    if (unflushed_) {
      outcome = flushFolder() ? WriteOutcome::Stored : WriteOutcome::NotDurable;
      WriteOutcomeRecorder::report(outcome);
    }
    // Nobody wrote since the last read: one load from shared memory, no system call.
    if (!(valid_ && counter_ && counterSeen_ && counter_->load() == *counterSeen_)) refresh();
    return valid_ && outcome == WriteOutcome::Stored;
  }
  std::unique_ptr<FileLock> lock;
  if (!lockDomain(lock) || !refreshLocked()) {
    outcome = WriteOutcome::NotStored;
    WriteOutcomeRecorder::report(outcome);
    return false;
  }
  outcome = writeLocked();
  return outcome == WriteOutcome::Stored;
}

Value PreferenceDomain::update(std::string_view key,
                               const std::function<Value(const Value&)>& change,
                               WriteOutcome& outcome) {
  outcome = WriteOutcome::NotStored;
  std::unique_ptr<FileLock> lock;
  if (!lockDomain(lock) || !refreshLocked()) {
    WriteOutcomeRecorder::report(outcome);
    return lookup(key);
  }

  const Value current = lookup(key);
  Value result = change(current);
  if (!result.isNone() && !isStorableEntry(key, result)) {
    NSLog("PreferenceStore: refused the value for a key in domain " + name_ +
          ": the entry is not a property list that can be stored");
    WriteOutcomeRecorder::report(outcome);
    return current;
  }

  std::optional<Value> previous;
  if (auto it = pending_.find(key); it != pending_.end()) previous = it->second;
  if (!identicalPropertyLists(current, result)) {
    pending_.insert_or_assign(std::string(key), std::move(result));
  }
  outcome = writeLocked();
  if (outcome != WriteOutcome::Stored) {
    // Written but its folder not flushed: the change is in the file and stays there.
    if (outcome == WriteOutcome::NotDurable) return lookup(key);
    // The change was computed from this read; kept pending, it could later overwrite what
    // another process stored since, which is exactly what this operation exists to prevent.
    if (previous) {
      pending_.insert_or_assign(std::string(key), std::move(*previous));
    } else if (auto it = pending_.find(key); it != pending_.end()) {
      pending_.erase(it);
    }
    const Value* stored = stored_.find(key);
    return stored == nullptr ? Value() : *stored;
  }
  return lookup(key);
}

Value::Dictionary PreferenceDomain::contents() {
  if (!read_) refresh();
  Value::Dictionary view = stored_.copyAll();
  if (stored_.damaged() && !unreadable_) markUnreadable();
  for (const auto& [key, value] : pending_) {
    if (value.isNone()) {
      view.erase(key);
    } else {
      view.insert_or_assign(key, value);
    }
  }
  return view;
}

WriteOutcome PreferenceDomain::updateAll(
    const std::function<Value::Dictionary(const Value::Dictionary&)>& change) {
  std::unique_ptr<FileLock> lock;
  if (!lockDomain(lock) || !refreshLocked()) {
    WriteOutcomeRecorder::report(WriteOutcome::NotStored);
    return WriteOutcome::NotStored;
  }

  Value::Dictionary result = change(contents());
  for (const auto& [key, value] : result) {
    if (!isStorableEntry(key, value)) {
      NSLog("PreferenceStore: refused the contents for domain " + name_ +
            ": an entry is not a property list that can be stored");
      WriteOutcomeRecorder::report(WriteOutcome::NotStored);
      return WriteOutcome::NotStored;
    }
  }
  // The result replaces every pending change, since it was computed from them; stored keys
  // it lacks are removed.
  Changes previous = std::move(pending_);
  pending_.clear();
  stored_.forEachKey([&](std::string_view key) {
    if (result.find(key) == result.end()) pending_.emplace(key, Value());
  });
  for (auto& [key, value] : result) pending_.insert_or_assign(key, std::move(value));
  const WriteOutcome outcome = writeLocked();
  // Written but its folder not flushed: the result is in the file; nothing to restore.
  if (outcome == WriteOutcome::NotStored) pending_ = std::move(previous);
  return outcome;
}

bool PreferenceDomain::isGone(const Status& removal) {
  // The file was just found under the lock: an unlink that says ENOENT is believed only when
  // a second look agrees.
  FileIdentity identity;
  return removal.isNotFound() && env_.fileIdentity(path_, identity).isNotFound();
}

DomainState PreferenceDomain::state() {
  refresh();
  if (!valid_ || unreadable_) return DomainState::Unreadable;
  return identity_ ? DomainState::Present : DomainState::Missing;
}

WriteOutcome PreferenceDomain::remove() {
  std::unique_ptr<FileLock> lock;
  WriteOutcome outcome = WriteOutcome::NotStored;
  if (lockDomain(lock) && refreshLocked()) {
    if (unreadable_) {
      if (moveUnreadableFileAside()) {
        storedChange_.all = true;
        outcome = WriteOutcome::Stored;
      }
    } else if (!identity_) {
      outcome = WriteOutcome::Stored;
    } else if (const Status status = env_.removeFile(path_); status.isOk() || isGone(status)) {
      identity_.reset();
      stored_.clear();
      count(0);
      counterSeen_ = counterValue();
      storedChange_.all = true;
      outcome = WriteOutcome::Stored;
    } else {
      NSLog("PreferenceStore: cannot remove domain " + name_ + ": " + status.toString());
    }
  }
  if (outcome == WriteOutcome::Stored) {
    pending_.clear();
    unflushed_ = true;
    if (!flushFolder()) outcome = WriteOutcome::NotDurable;
  }
  WriteOutcomeRecorder::report(outcome);
  return outcome;
}

void PreferenceDomain::publishState() {
  publishedCounter_.store(counter_.get(), std::memory_order_release);
  const bool clean = valid_ && pending_.empty() && !unflushed_ && counter_ && counterSeen_;
  cleanAt_.store(clean ? *counterSeen_ : kNotClean, std::memory_order_release);
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
  // A missing file is confirmed by the open too: a stat that fails with ENOENT while the file
  // is there must not have the domain replaced by this process's keys alone.
  if (status.isNotFound() || !matchesLastRead(status, identity)) {
    // A file that changed while the counter stayed put was replaced by a writer that died
    // before counting, or by hand; count it now so that readers notice it too.
    const bool missedByCounter = valid_ && before && counterSeen_ && *before == *counterSeen_ &&
                                 !matchesLastRead(status, identity);
    if (!readFromDisk(status.isOk())) return false;
    if (missedByCounter) count(0);
  }
  // Values are decoded lazily for reads; a change is made from a view whose every value is known
  // to be sound, so that a damaged file is treated as unreadable before anything is written.
  if (!unreadable_ && !stored_.validate()) markUnreadable();
  counterSeen_ = counterValue();
  return true;
}

WriteOutcome PreferenceDomain::writeLocked() {
  const auto finish = [](WriteOutcome outcome) {
    WriteOutcomeRecorder::report(outcome);
    return outcome;
  };
  if (!stored_.differsWith(pending_)) {
    pending_.clear();
    // What the file holds may still wait for its folder to reach the disk.
    const bool durable = !unflushed_ || flushFolder();
    return finish(durable ? WriteOutcome::Stored : WriteOutcome::NotDurable);
  }
  std::vector<std::string> changedKeys;
  for (const auto& [key, value] : pending_) {
    const Value* stored = stored_.find(key);
    if (value.isNone() ? stored != nullptr
                       : stored == nullptr || !identicalPropertyLists(*stored, value)) {
      changedKeys.push_back(key);
    }
  }
  std::string why;
  std::uint64_t kept = 0;
  std::optional<std::string> bytes = stored_.encodeWith(pending_, why, kept);
  // The file the new one keeps a part of, for readers holding it.
  const std::uint64_t base = identity_ && !unreadable_ && kept != 0 ? tagOf(*identity_) : 0;
  if (!bytes) {
    // Kept pending, these changes would be refused again at every write and hold back every
    // later change of the domain with them.
    NSLog("PreferenceStore: refused to write domain " + name_ + ": " + why +
          "; the changes are dropped");
    pending_.clear();
    return finish(WriteOutcome::NotStored);
  }
  // Moved aside only once the write is sure to be attempted: a refused one leaves it in place.
  if (unreadable_ && !moveUnreadableFileAside()) return finish(WriteOutcome::NotStored);
  std::optional<FileIdentity> written;
  const Status status = env_.writeFileAtomically(path_, *bytes, kFileMode, written);
  if (!status.isOk()) {
    NSLog("PreferenceStore: cannot write domain " + name_ + ": " + status.toString());
    return finish(WriteOutcome::NotStored);
  }
  // The rename is visible at once but durable only with its folder; the change is announced
  // (counted) either way, since other processes already read the new file.
  unflushed_ = true;
  const bool durable = flushFolder();
  pending_.clear();
  storedChange_.keys.insert(storedChange_.keys.end(), changedKeys.begin(), changedKeys.end());
  removeStaleTemporaryFiles();
  // The new contents are the bytes just written, not read back. The tag tells other processes
  // that the file now at the path is one a store wrote, so they can trust its layout too.
  valid_ = written.has_value() && stored_.load(std::move(*bytes), StoredDomain::Origin::Own);
  if (valid_) {
    identity_ = *written;
    unreadable_ = false;
  }
  count(valid_ ? tagOf(*written) : 0, valid_ ? base : 0, kept);
  counterSeen_ = counterValue();
  return finish(durable ? WriteOutcome::Stored : WriteOutcome::NotDurable);
}

void PreferenceDomain::removeStaleTemporaryFiles() {
  std::vector<std::string> names;
  if (!env_.listDirectory(directory_, names).isOk()) return;
  const std::string prefix = "." + name_ + ".plist.";
  constexpr std::string_view kSuffix = ".tmp";
  constexpr std::size_t kRandomDigits = 16;
  for (const std::string& name : names) {
    if (name.size() != prefix.size() + kRandomDigits + kSuffix.size() ||
        !name.starts_with(prefix) || !name.ends_with(kSuffix)) {
      continue;
    }
    const std::string_view digits = std::string_view(name).substr(prefix.size(), kRandomDigits);
    if (digits.find_first_not_of("0123456789abcdef") != std::string_view::npos) continue;
    const Status status = env_.removeFile(joinPath(directory_, name));
    if (status.isOk()) NSLog("PreferenceStore: removed " + name + ", left by a writer that died");
  }
}

void PreferenceDomain::count(std::uint64_t tag, std::uint64_t base, std::uint64_t kept) {
  if (!counter_) return;
  counter_->storeBase(boundBase(base, tag), base != 0 ? kept : 0);
  counter_->storeTag(tag);
  counter_->increment();
}

bool PreferenceDomain::flushFolder() {
  const Status status = env_.flushFolder(directory_);
  if (!status.isOk()) {
    NSLog("PreferenceStore: cannot flush the folder of domain " + name_ + ": " + status.toString());
    return false;
  }
  unflushed_ = false;
  return true;
}

bool PreferenceDomain::moveUnreadableFileAside() {
  for (int index = 1; index <= kMaxAsideIndex; ++index) {
    const std::string aside = path_ + ".corrupt-" + std::to_string(index);
    if (env_.fileExists(aside)) continue;
    const Status status = env_.renameFile(path_, aside, AllowOverwrite::No);
    if (status.isOk()) {
      NSLog("PreferenceStore: moved the unreadable " + path_ + " aside to " + aside);
      identity_.reset();
      unreadable_ = false;
      count(0);
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
