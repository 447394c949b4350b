// Preference domains of the current user: one binary plist file per domain, shared by every
// process of the user. Each process works on its own view of a domain and exchanges changes
// with the others only when it synchronises; writes are merged per key under the domain's
// lock, so two processes that change different keys never lose each other's changes.
// Every operation is safe from any thread of a process and from any number of processes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WriteOutcome.h"

namespace platform {

class PreferenceDomain;

// True for a domain name that stays inside the preferences folder: not empty, no '/', no NUL,
// and not starting with '.'. Every other name is refused by PreferenceStore.
HX_PLATFORM_EXPORT bool isValidPreferenceDomainName(std::string_view domain);

// Per-key comparison used to decide whether a change marks a key: the same kind, the same
// storage (an integer never matches a real or a boolean of equal value) and the same contents,
// containers compared deeply. Stricter than Value's operator==, so that rewriting a value
// with another kind is stored.
HX_PLATFORM_EXPORT bool identicalPropertyLists(const Value& a, const Value& b);

// Whether a domain's file is there: none (Missing); one that reads as a dictionary, maybe
// empty (Present); or one that cannot be read now (Unreadable: an I/O error, or a file that
// is not a dictionary property list, which reads as empty and is moved aside before the next
// write). A caller tells "no such domain" from "cannot read it" by this.
enum class DomainState { Missing, Present, Unreadable };

class HX_PLATFORM_EXPORT PreferenceStore {
 public:
  // Domains live in `<preferencesDirectory>/<domain>.plist` (binary plist, mode 0600), with
  // the lock `<domain>.plist.lock` and the change counter `<domain>.plist.counter` beside
  // it. The folder and its parents are created (0700) at the first write. `env` must outlive
  // the store. Nothing is read before a domain is first used.
  PreferenceStore(Env& env, std::string preferencesDirectory);
  ~PreferenceStore();
  PreferenceStore(const PreferenceStore&) = delete;
  PreferenceStore& operator=(const PreferenceStore&) = delete;

  const std::string& preferencesDirectory() const { return directory_; }
  // The data file of `domain`; empty for a refused name.
  std::string pathForDomain(std::string_view domain) const;

  // Returns a private copy of the value under `key` in this process's view of the domain:
  // what the last synchronisation read, with this process's pending changes applied. None
  // when the key is absent, or when the domain name is refused. The first use of a domain
  // reads its file; later calls read nothing until the next synchronisation.
  Value copyAppValue(std::string_view key, std::string_view domain);
  // Calls `read` with the value copyAppValue would copy, in place and under the store's lock, so
  // that a look at part of a large value copies nothing. `read` must not call the store (such a
  // call is refused as from an updateAppValue change function).
  void readAppValue(std::string_view key, std::string_view domain,
                    const std::function<void(const Value& value)>& read);

  // Whether the value copyAppValue would copy is an array holding the string `text`; told from
  // the file without decoding the array when it can be.
  bool appArrayContainsString(std::string_view key, std::string_view text, std::string_view domain);

  // Records a pending change of `key`; a None value removes the key. A value equal (by
  // identicalPropertyLists) to what this process's view holds records nothing while that view is
  // current; after another process wrote, the key is recorded and the write compares it with the
  // file instead. An entry that cannot be stored (a value that is not a property list, or a key or
  // text that is not valid UTF-8) or a refused domain name is logged and dropped: nothing changes.
  // The change reaches the file at the next appSynchronize or updateAppValue.
  void setAppValue(std::string_view key, const Value& value, std::string_view domain);

  // Writes this process's pending changes and takes in what other processes stored. Under the
  // domain's lock it re-reads the file when it changed, applies the pending keys over it, and
  // replaces the file atomically unless nothing differs. Without pending changes it only re-reads,
  // and re-reads nothing (no system call) while the domain's change counter has not moved (a file
  // replaced without counting, by a writer killed between its rename and its count or by hand, is
  // taken in at the next write of any store). A write flushes the file, renames it over the old
  // one and flushes the folder: once this returns true the change survives a crash of any process
  // and a power loss. Returns true on success; false when the folder, the lock, the read or the
  // write failed (the pending changes are kept for the next try), when the file was replaced but
  // its folder could not be flushed (the change is stored and announced, but may not survive a
  // power loss; the next synchronisation flushes again), or when the name is refused. An unreadable
  // domain file (not a plist, or its root not a dictionary) reads as an empty domain and is moved
  // aside to `<domain>.plist.corrupt-N` (the first free N) before the next write, never
  // overwritten; if it cannot be moved, nothing is written.
  // `outcome`, when given, receives what the pending changes came to: Stored (also when there
  // were none, or nothing differed), NotStored or NotDurable, for this call alone.
  bool appSynchronize(std::string_view domain, WriteOutcome* outcome = nullptr);

  // Atomic read-modify-write of one value across processes: under the domain's lock,
  // re-reads the file, calls `change` with the current value (this process's pending value
  // when there is one, else the stored one, None when absent) and writes the result (None
  // removes the key) together with the other pending changes, before unlocking. Returns the
  // value stored under `key` afterwards. When the write fails, the change is dropped (it
  // would be stale by the next try) and the value read from the file is returned; when the
  // domain cannot be locked or read, `change` is not called and this process's view of the
  // value is returned; when only the folder flush failed, the change is kept as in
  // appSynchronize and the new value returned. A result that cannot be stored is logged and
  // dropped. A refused name gives None without calling `change`. `change` runs on the caller's
  // thread with the domain locked; it may throw (the exception passes through, nothing is written).
  // REQUIRES: `change` does not call this store (goes to the assertion handler).
  // `outcome`, when given, receives what the write came to, as for appSynchronize.
  Value updateAppValue(std::string_view key, std::string_view domain,
                       const std::function<Value(const Value& current)>& change,
                       WriteOutcome* outcome = nullptr);

  // Returns a private copy of this process's view of the whole domain as a dictionary (what
  // the last synchronisation read, with this process's pending changes applied); an empty
  // dictionary for a domain without keys or a refused name. Reads the file on first use.
  Value copyAppDomain(std::string_view domain);

  // Atomic read-modify-write of a whole domain, as updateAppValue does for one key: under the
  // domain's lock, re-reads the file, calls `change` with the domain's current contents (this
  // process's pending changes applied) and makes the file hold exactly what it returns, in one
  // atomic replacement. Returns true when the result is stored (or was already); false when the
  // domain cannot be locked, read or written, when the result holds an entry that cannot be
  // stored (logged; nothing is written), or when the name is refused (`change` is not called).
  // On failure the file and this process's pending changes are as before. `change` runs on the
  // caller's thread with the domain locked; it may throw (the exception passes through, nothing
  // is written). REQUIRES: `change` does not call this store (goes to the assertion handler).
  // `outcome`, when given, receives what the write came to (NotDurable: stored, and false).
  bool updateAppDomain(
      std::string_view domain,
      const std::function<Value::Dictionary(const Value::Dictionary& current)>& change,
      WriteOutcome* outcome = nullptr);

  // Takes in the domain's file when it changed and tells whether it is there (see
  // DomainState); Missing for a refused name. Creates no file.
  DomainState domainState(std::string_view domain);

  // Removes the domain under its lock: its data file goes (one that cannot be read is moved
  // aside instead, as before a write), its folder is flushed, and this process's pending
  // changes are dropped; other processes find it missing at their next synchronisation. The
  // lock and counter files stay, since other processes may hold them open. Stored when the
  // file is gone (or was not there), NotDurable when its folder could not be flushed, NotStored
  // when the domain cannot be locked or read, the file not removed, or the name is refused.
  WriteOutcome removeDomain(std::string_view domain);

  // What a store stored: the domain, and the keys whose stored value changed (none, with `all`,
  // when the whole domain went: a removal). Only changes that reached the file are told, never a
  // failed write, nor a write that found nothing to change.
  struct StoredChange {
    std::string domain;
    std::vector<std::string> keys;
    bool all = false;
  };
  using ChangeListener = std::function<void(const StoredChange& change)>;
  // Calls `listener` after each change this store stores, on the writing thread, once the
  // domain's lock and the store's own lock are let go (it may read the store). Set it before
  // the store is used from more than one thread; an empty listener tells nobody.
  void setChangeListener(ChangeListener listener) { listener_ = std::move(listener); }

 private:
  PreferenceDomain* domainNamed(std::string_view domain);
  // Collects what one operation stored and tells the listener when the operation's locks are
  // let go (it is declared before them, so it is destroyed after).
  class Announcement;
  bool synchronizeDomain(std::string_view domain, WriteOutcome& outcome);
  // Whether this thread runs an updateAppValue change function (reported as a caller error).
  // The common answer, no change function running anywhere, costs one relaxed load.
  bool calledFromChange(const char* method) const {
    return changeThread_.load(std::memory_order_relaxed) != std::thread::id() &&
           reportCallFromChange(method);
  }
  bool reportCallFromChange(const char* method) const;

  Env& env_;
  const std::string directory_;
  ChangeListener listener_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<PreferenceDomain>, std::less<>> domains_;
  // The domain used last (owned by domains_), so that a repeated lookup skips the map and
  // a synchronisation of an unchanged domain skips the mutex.
  std::atomic<PreferenceDomain*> lastDomain_{nullptr};
  std::atomic<std::thread::id> changeThread_{};
};

}  // namespace platform
