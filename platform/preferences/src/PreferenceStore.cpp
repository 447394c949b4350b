#include "platform/preferences/PreferenceStore.h"

#include <utility>

#include "PreferenceDomain_p.h"
#include "platform/foundation/Assertion.h"
#include "platform/foundation/Log.h"

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

}  // namespace

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
  if (lastDomain_ != nullptr && lastDomain_->name() == domain) return lastDomain_;
  if (!isValidPreferenceDomainName(domain)) return nullptr;
  auto it = domains_.find(domain);
  if (it == domains_.end()) {
    auto created = std::make_unique<PreferenceDomain>(env_, directory_, std::string(domain));
    it = domains_.emplace(std::string(domain), std::move(created)).first;
  }
  lastDomain_ = it->second.get();
  return lastDomain_;
}

bool PreferenceStore::calledFromChange(const char* method) const {
  if (changeThread_.load(std::memory_order_relaxed) != std::this_thread::get_id()) return false;
  HX_ASSERT(false, method, "PreferenceStore(" + directory_ + ")", "PreferenceStore", __LINE__,
            "the change function of updateAppValue called the preference store");
  return true;
}

Value PreferenceStore::copyAppValue(std::string_view key, std::string_view domain) {
  if (calledFromChange("copyAppValue")) return Value();
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  return state == nullptr ? Value() : state->lookup(key);
}

void PreferenceStore::setAppValue(std::string_view key, const Value& value,
                                  std::string_view domain) {
  if (calledFromChange("setAppValue")) return;
  if (!value.isNone() && !value.isPropertyList()) {
    NSLog("PreferenceStore: refused a value for key \"" + std::string(key) + "\" in domain " +
          std::string(domain) + ": not a property list (" + value.description() + ")");
    return;
  }
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    NSLog("PreferenceStore: refused the domain name \"" + std::string(domain) + "\"");
    return;
  }
  state->set(key, value);
}

bool PreferenceStore::appSynchronize(std::string_view domain) {
  if (calledFromChange("appSynchronize")) return false;
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  return state != nullptr && state->synchronize();
}

Value PreferenceStore::updateAppValue(std::string_view key, std::string_view domain,
                                      const std::function<Value(const Value& current)>& change) {
  if (calledFromChange("updateAppValue")) return Value();
  std::lock_guard guard(mutex_);
  PreferenceDomain* state = domainNamed(domain);
  if (state == nullptr) {
    NSLog("PreferenceStore: refused the domain name \"" + std::string(domain) + "\"");
    return Value();
  }
  ChangeScope scope(changeThread_);
  return state->update(key, change);
}

}  // namespace platform
