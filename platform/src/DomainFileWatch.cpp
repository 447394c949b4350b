#include "platform/DomainFileWatch.h"

#include "platform/preferences/PreferenceStore.h"

namespace platform {
namespace {

constexpr std::string_view kPlistSuffix = ".plist";

}  // namespace

DomainFileWatch::DomainFileWatch(Env& env, PreferenceStore& store,
                                 std::optional<std::string> domain)
    : env_(env), store_(store), domain_(std::move(domain)), last_(identities()) {}

std::map<std::string, FileIdentity> DomainFileWatch::identities() {
  std::vector<std::string> names;
  if (domain_) {
    names.push_back(*domain_);
  } else {
    std::vector<std::string> files;
    if (!env_.listDirectory(store_.preferencesDirectory(), files).isOk()) return {};
    for (const std::string& file : files) {
      if (file.size() <= kPlistSuffix.size() || !file.ends_with(kPlistSuffix)) continue;
      names.push_back(file.substr(0, file.size() - kPlistSuffix.size()));
    }
  }
  std::map<std::string, FileIdentity> found;
  for (std::string& name : names) {
    if (!isValidPreferenceDomainName(name)) continue;
    FileIdentity identity;
    if (env_.fileIdentity(store_.pathForDomain(name), identity).isOk()) {
      found.emplace(std::move(name), identity);
    }
  }
  return found;
}

std::vector<std::string> DomainFileWatch::check() {
  std::map<std::string, FileIdentity> now = identities();
  std::vector<std::string> changed;
  auto before = last_.begin();
  auto after = now.begin();
  while (before != last_.end() || after != now.end()) {
    if (after == now.end() || (before != last_.end() && before->first < after->first)) {
      changed.push_back((before++)->first);
    } else if (before == last_.end() || after->first < before->first) {
      changed.push_back((after++)->first);
    } else {
      if (!(before->second == after->second)) changed.push_back(after->first);
      ++before;
      ++after;
    }
  }
  for (const std::string& domain : changed) {
    // Under the domain's lock the store compares the file with what it read last and takes in
    // a replacement its counter missed; giving back what it holds writes nothing.
    if (now.contains(domain)) {
      store_.updateAppDomain(domain, [](const Value::Dictionary& current) { return current; });
    }
  }
  last_ = std::move(now);
  return changed;
}

}  // namespace platform
