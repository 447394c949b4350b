// One preference domain as one process sees it: the contents of the file at its last read,
// this process's pending changes, and what it needs to tell cheaply whether the file changed.
// PreferenceStore serialises every call, except isUnchangedSinceLastRead(), which any thread
// may call at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "StoredDomain_p.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WriteOutcome.h"
#include "platform/preferences/PreferenceStore.h"

namespace platform {

// True when `key` and `value` can be written to a domain file: a property list whose keys and
// text are all valid UTF-8.
bool isStorableEntry(std::string_view key, const Value& value);

// What the counter's tag records of a file a store wrote; never zero, which means "unknown".
inline std::uint64_t tagOf(const FileIdentity& identity) {
  std::uint64_t hash = 14695981039346656037u;
  for (const std::uint64_t field :
       {identity.device, identity.inode, static_cast<std::uint64_t>(identity.size),
        static_cast<std::uint64_t>(identity.mtimeNanoseconds),
        static_cast<std::uint64_t>(identity.ctimeNanoseconds)}) {
    hash = (hash ^ field) * 1099511628211u;
  }
  return hash == 0 ? 1 : hash;
}

// The counter's base word for a write that kept the start of the file of tag `base` and wrote
// the file of tag `tag`: bound to both, so that a tag stored without a base of its own (by a
// writer that records none) never matches the base an earlier write left. Zero for none.
inline std::uint64_t boundBase(std::uint64_t base, std::uint64_t tag) {
  if (base == 0) return 0;
  std::uint64_t mixed = base ^ (tag * 0x9E3779B97F4A7C15u);
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
  mixed ^= mixed >> 31;
  return mixed == 0 ? 1 : mixed;
}

class PreferenceDomain {
 public:
  // `env` must outlive the domain; `directory` is the folder of the data file.
  PreferenceDomain(Env& env, const std::string& directory, std::string name);
  PreferenceDomain(const PreferenceDomain&) = delete;
  PreferenceDomain& operator=(const PreferenceDomain&) = delete;

  const std::string& name() const { return name_; }

  // The value in this process's view (pending change first, then the last read); None
  // when absent. Reads the file on first use.
  const Value& lookup(std::string_view key);
  // Whether the array under `key` in this process's view holds the string `text`, told without
  // decoding it; nothing when only lookup() can tell.
  std::optional<bool> arrayHoldsText(std::string_view key, std::string_view text);
  // Records a pending change unless the view already holds an identical value.
  void set(std::string_view key, const Value& value);
  // See PreferenceStore::appSynchronize; `outcome` is what the pending changes came to.
  bool synchronize(WriteOutcome& outcome);
  // See PreferenceStore::updateAppValue.
  Value update(std::string_view key, const std::function<Value(const Value&)>& change,
               WriteOutcome& outcome);
  // This process's view of the whole domain. Reads the file on first use.
  Value::Dictionary contents();
  // See PreferenceStore::updateAppDomain.
  WriteOutcome updateAll(const std::function<Value::Dictionary(const Value::Dictionary&)>& change);
  // See PreferenceStore::domainState.
  DomainState state();
  // See PreferenceStore::removeDomain.
  WriteOutcome remove();

  // True when a synchronisation would do nothing: no pending change, and nobody wrote since
  // the last read. Lock-free; reflects the state published by the last publishState().
  bool isUnchangedSinceLastRead() const {
    const SharedCounter* counter = publishedCounter_.load(std::memory_order_acquire);
    const std::uint64_t cleanAt = cleanAt_.load(std::memory_order_acquire);
    return counter != nullptr && cleanAt != kNotClean && counter->load() == cleanAt;
  }
  // Publishes the state for isUnchangedSinceLastRead(); called after every change of state.
  void publishState();

  // The keys that writes of this process have stored since the last call, for the store to
  // announce once the domain's lock is let go. `all` is set when the whole domain went (a
  // removal, an unreadable file moved aside): then `keys` is empty.
  struct StoredChange {
    std::vector<std::string> keys;
    bool all = false;
    bool empty() const { return keys.empty() && !all; }
  };
  StoredChange takeStoredChange() { return std::exchange(storedChange_, {}); }

 private:
  using Changes = StoredDomain::Changes;

  // Takes in the current file without the lock, reading it only when it changed.
  void refresh();
  // Reads and parses the file (only the part a write changed, when readChangedPart can, unless
  // that was Tried already); false (state kept) on an I/O error other than NotFound, and on
  // NotFound when `found` (the file was just seen there: an open that fails then is a fault,
  // not a missing domain).
  enum class PartialRead { Try, Tried };
  bool readFromDisk(bool found, PartialRead partial = PartialRead::Try);
  // Takes in the file now at the path when a store's write made it from the file last read here,
  // reading only what that write did not keep; false (the view as before) when it cannot.
  bool readChangedPart();
  // Whether `status`/`identity` of the file now at the path describe the file last read.
  bool matchesLastRead(const Status& status, const FileIdentity& identity) const;
  void mapCounter();
  std::optional<std::uint64_t> counterValue() const;
  // Takes the domain's lock, creating the folder when it is missing.
  bool lockDomain(std::unique_ptr<FileLock>& lock);
  // Under the lock: makes `stored_` the file's current contents, every value checked. False
  // when it cannot.
  bool refreshLocked();
  // Treats the file last read as unreadable: empty, moved aside before the next write. The log
  // line gives `reason`, by default that the file is not a dictionary property list.
  void markUnreadable(const std::string& reason = std::string());
  // Under the lock: applies `pending_` over `stored_` and writes the result if it differs.
  // Reports the outcome to the thread's recorders.
  WriteOutcome writeLocked();
  // Under the lock, after a write: removes the temporary files of writers that died before
  // their rename (no live writer of the domain has one, since each writes under the lock).
  void removeStaleTemporaryFiles();
  // Whether a removal of the data file that failed with `removal` still left it gone.
  bool isGone(const Status& removal);
  bool moveUnreadableFileAside();
  // Counts a change of the file, first tagging it with what the file now at the path is (0: a
  // file no store vouches for) and with its base: the tag of the file it was made from, whose
  // first `kept` bytes it left as they were (0: none).
  void count(std::uint64_t tag, std::uint64_t base = 0, std::uint64_t kept = 0);
  // Flushes the folder after a rename; false (and `unflushed_` kept) when it fails.
  bool flushFolder();

  StoredChange storedChange_;
  Env& env_;
  const std::string name_;
  const std::string directory_;
  const std::string path_;
  const std::string lockPath_;
  const std::string counterPath_;

  bool read_ = false;    // the file was read (or tried) at least once
  bool valid_ = false;   // `identity_` and `unreadable_` describe `stored_`
  StoredDomain stored_;  // the file's contents at the last read (empty when unreadable)
  std::string spare_;    // a buffer for the next read
  Changes pending_;      // keys this process set (None: removed) since its last write
  // The identity of the last file read; unset when it was missing. Without the file held open
  // its inode number may pass to a later file, so the identity tells files apart only because
  // every atomic write stamps its file with a modification time of its own.
  std::optional<FileIdentity> identity_;
  bool unreadable_ = false;  // the last file read was not a dictionary plist
  bool unflushed_ = false;   // this process renamed a file whose folder is not yet flushed
  std::unique_ptr<SharedCounter> counter_;
  std::optional<std::uint64_t> counterSeen_;  // the counter before the last read

  static constexpr std::uint64_t kNotClean = UINT64_MAX;
  std::atomic<const SharedCounter*> publishedCounter_{nullptr};  // counter_, once mapped
  std::atomic<std::uint64_t> cleanAt_{kNotClean};  // counterSeen_ while clean, else kNotClean
};

}  // namespace platform
