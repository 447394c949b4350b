#include "platform/preferences/PreferenceStore.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "PreferenceDomain_p.h"
#include "platform/foundation/Assertion.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/WriteOutcome.h"

namespace platform {

namespace {

// Marks the calling thread as running an updateAppValue change function, so that a call
// back into the store is reported instead of deadlocking on the store's mutex or the
// domain's file lock.
class ChangeScope {
 public:
  explicit ChangeScope(std::atomic<std::thread::id>& thread) : thread_(thread) {
    thread_.store(std::this_thread::get_id());
  }
  ~ChangeScope() { thread_.store(std::thread::id()); }
  ChangeScope(const ChangeScope&) = delete;
  ChangeScope& operator=(const ChangeScope&) = delete;

 private:
  std::atomic<std::thread::id>& thread_;
};

// A refused name may hold any bytes; the log gets them escaped.
std::string printable(std::string_view text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    }
  }
  return out;
}

// A change asked of a refused name stores nothing; whoever records the outcome hears so.
void refuseDomainName(std::string_view domain) {
  NSLog("PreferenceStore: refused the domain name \"" + printable(domain) + "\"");
  WriteOutcomeRecorder::report(WriteOutcome::NotStored);
}

}  // namespace

class PreferenceStore::Announcement {
 public:
  explicit Announcement(const PreferenceStore& store) : store_(store) {}
  ~Announcement() {
    if (!store_.listener_ || (change_.keys.empty() && !change_.all)) return;
    try {
      store_.listener_(change_);
    } catch (const std::exception& error) {
      NSLog("PreferenceStore: telling a stored change failed: " + std::string(error.what()));
    }
  }
  Announcement(const Announcement&) = delete;
  Announcement& operator=(const Announcement&) = delete;

  // Under the store's lock, after the operation on `state`.
  void collect(PreferenceDomain* state) {
    if (state == nullptr) return;
    // Taken even when nobody listens, so that nothing piles up in the domain.
    PreferenceDomain::StoredChange stored = state->takeStoredChange();
    if (stored.empty() || !store_.listener_) return;
    change_.domain = state->name();
    change_.keys = std::move(stored.keys);
    change_.all = stored.all;
  }

 private:
  const PreferenceStore& store_;
  StoredChange change_;
};

bool isValidPreferenceDomainName(std::string_view domain) {
  return !domain.empty() && domain.front() != '.' &&
         domain.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

PreferenceStore::PreferenceStore(Env& env, std::string preferencesDirectory)
    : env_(env), directory_(std::move(preferencesDirectory)) {}

PreferenceStore::~PreferenceStore() = default;

std::string PreferenceStore::pathForDomain(std::string_view domain) const {
  if (!isValidPreferenceDomainName(domain)) return {};
  return joinPath(directory_, std::string(domain) + ".plist");
}

PreferenceDomain* PreferenceStore::domainNamed(std::string_view domain) {
  PreferenceDomain* last = lastDomain_.load(std::memory_order_relaxed);
  if (last != nullptr && last->name() == domain) return last;
  if (!isValidPreferenceDomainName(domain)) return nullptr;
  auto it = domains_.find(domain);
  if (it == domains_.end()) {
    auto created = std::make_unique<PreferenceDomain>(env_, directory_, std::string(domain));
    it = domains_.emplace(std::string(domain), std::move(created)).first;
  }
  lastDomain_.store(it->second.get(), std::memory_order_release);
  return it->second.get();
}

bool PreferenceStore::reportCallFromChange(const char* method) const {
  if (changeThread_.load(std::memory_order_relaxed) != std::this_thread::get_id()) return false;
  HX_ASSERT(false, method, "PreferenceStore(" + directory_ + ")", "PreferenceStore", __LINE__,
            "a function the store was running (an updateAppValue change, a readAppValue read) "
            "called the preference store");
  return true;
}

Value PreferenceStore::copyAppValue(std::string_view key, std::string_view domain) {
  if (calledFromChange("copyAppValue")) return Value();
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  return state == nullptr ? Value() : state->lookup(key);
}

void PreferenceStore::readAppValue(std::string_view key, std::string_view domain,
                                   const std::function<void(const Value& value)>& read) {
  static const Value none;
  if (calledFromChange("readAppValue")) return read(none);
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  ChangeScope scope(changeThread_);
  read(state == nullptr ? none : state->lookup(key));
}

bool PreferenceStore::appArrayContainsString(std::string_view key, std::string_view text,
                                             std::string_view domain) {
  if (calledFromChange("appArrayContainsString")) return false;
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) return false;
  if (const auto inPlace = state->arrayHoldsText(key, text)) return *inPlace;
  const Value& value = state->lookup(key);
  if (!value.isArray()) return false;
  const auto& items = value.arrayValue();
  return std::any_of(items.begin(), items.end(), [&](const Value& item) {
    return item.isString() && item.stringValue() == text;
  });
}

void PreferenceStore::setAppValue(std::string_view key, const Value& value,
                                  std::string_view domain) {
  if (calledFromChange("setAppValue")) return;
  if (!value.isNone() && !isStorableEntry(key, value)) {
    NSLog("PreferenceStore: refused the value for a key in domain " + printable(domain) +
          ": the entry is not a property list that can be stored");
    WriteOutcomeRecorder::report(WriteOutcome::NotStored);
    return;
  }
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    refuseDomainName(domain);
    return;
  }
  state->set(key, value);
  state->publishState();
}

bool PreferenceStore::appSynchronize(std::string_view domain, WriteOutcome* outcome) {
  WriteOutcome result = WriteOutcome::Stored;
  const bool synchronized = synchronizeDomain(domain, result);
  if (outcome != nullptr) *outcome = result;
  return synchronized;
}

bool PreferenceStore::synchronizeDomain(std::string_view domain, WriteOutcome& outcome) {
  if (calledFromChange("appSynchronize")) return false;
  // The common case, a domain nobody changed, takes no lock: domains are never destroyed
  // before the store, and their names never change.
  const PreferenceDomain* last = lastDomain_.load(std::memory_order_acquire);
  if (last != nullptr && last->name() == domain && last->isUnchangedSinceLastRead()) return true;

  Announcement announcement(*this);
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    outcome = WriteOutcome::NotStored;
    WriteOutcomeRecorder::report(outcome);
    return false;
  }
  const bool synchronized = state->synchronize(outcome);
  state->publishState();
  announcement.collect(state);
  return synchronized;
}

Value PreferenceStore::updateAppValue(std::string_view key, std::string_view domain,
                                      const std::function<Value(const Value& current)>& change,
                                      WriteOutcome* outcome) {
  WriteOutcome ignored;
  WriteOutcome& result = outcome != nullptr ? *outcome : ignored;
  result = WriteOutcome::NotStored;
  if (calledFromChange("updateAppValue")) return Value();
  Announcement announcement(*this);
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    refuseDomainName(domain);
    return Value();
  }
  struct Publish {
    PreferenceDomain* state;
    Announcement& announcement;
    ~Publish() {
      state->publishState();
      announcement.collect(state);
    }
  } publish{state, announcement};
  ChangeScope scope(changeThread_);
  return state->update(key, change, result);
}

Value PreferenceStore::copyAppDomain(std::string_view domain) {
  if (calledFromChange("copyAppDomain")) return Value::dictionary();
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) return Value::dictionary();
  Value contents(state->contents());
  state->publishState();
  return contents;
}

bool PreferenceStore::updateAppDomain(
    std::string_view domain,
    const std::function<Value::Dictionary(const Value::Dictionary& current)>& change,
    WriteOutcome* outcome) {
  if (outcome != nullptr) *outcome = WriteOutcome::NotStored;
  if (calledFromChange("updateAppDomain")) return false;
  Announcement announcement(*this);
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    refuseDomainName(domain);
    return false;
  }
  struct Publish {
    PreferenceDomain* state;
    Announcement& announcement;
    ~Publish() {
      state->publishState();
      announcement.collect(state);
    }
  } publish{state, announcement};
  ChangeScope scope(changeThread_);
  const WriteOutcome result = state->updateAll(change);
  if (outcome != nullptr) *outcome = result;
  return result == WriteOutcome::Stored;
}

DomainState PreferenceStore::domainState(std::string_view domain) {
  if (calledFromChange("domainState")) return DomainState::Missing;
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) return DomainState::Missing;
  const DomainState answer = state->state();
  state->publishState();
  return answer;
}

WriteOutcome PreferenceStore::removeDomain(std::string_view domain) {
  if (calledFromChange("removeDomain")) return WriteOutcome::NotStored;
  Announcement announcement(*this);
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    refuseDomainName(domain);
    return WriteOutcome::NotStored;
  }
  const WriteOutcome outcome = state->remove();
  state->publishState();
  announcement.collect(state);
  return outcome;
}

}  // namespace platform
