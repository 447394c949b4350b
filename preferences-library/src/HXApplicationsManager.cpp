#include "hx/HXApplicationsManager.h"

#include <algorithm>

#include "platform/Platform.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/StringCompare.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

constexpr std::string_view kIdentifiersKey = "identifiers";
constexpr std::string_view kApplicationsKey = "applications";
constexpr std::string_view kIdentifierKey = "identifier";
constexpr std::string_view kDisplayNameKey = "displayName";
constexpr std::string_view kHiddenTag = "hidden";

std::vector<std::string> defaultBlacklistedIdentifiers() {
  return {"com.apple.webapp", "com.apple.webapp1"};
}

}  // namespace

HXApplicationsManager::HXApplicationsManager()
    : HXApplicationsManager(platform::defaultPlatform().workspace) {}

HXApplicationsManager::HXApplicationsManager(platform::ApplicationWorkspace& workspace)
    : workspace_(workspace), blacklistedIdentifiers_(defaultBlacklistedIdentifiers()) {}

platform::Value HXApplicationsManager::allApplications() const {
  std::vector<platform::ApplicationProxy> installed = workspace_.allInstalledApplications();

  // Sort pointers, not proxies, and keep equal names in the workspace's order.
  static const std::string kNoName;
  std::vector<const platform::ApplicationProxy*> ordered;
  ordered.reserve(installed.size());
  for (const auto& proxy : installed) ordered.push_back(&proxy);
  std::stable_sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) {
    const std::string& nameA = a->localizedName ? *a->localizedName : kNoName;
    const std::string& nameB = b->localizedName ? *b->localizedName : kNoName;
    return platform::caseInsensitiveCompare(nameA, nameB) == platform::ComparisonResult::Ascending;
  });

  platform::Value::Array identifiers;
  platform::Value::Dictionary applications;
  identifiers.reserve(ordered.size());
  for (const platform::ApplicationProxy* proxy : ordered) {
    const std::string& identifier = proxy->applicationIdentifier;
    if (std::find(proxy->appTags.begin(), proxy->appTags.end(), kHiddenTag) !=
        proxy->appTags.end()) {
      continue;
    }
    if (std::find(blacklistedIdentifiers_.begin(), blacklistedIdentifiers_.end(), identifier) !=
        blacklistedIdentifiers_.end()) {
      continue;
    }
    std::string displayName;
    if (proxy->localizedName && !proxy->localizedName->empty()) {
      displayName = *proxy->localizedName;
    } else {
      displayName = platform::deletingPathExtension(platform::lastPathComponent(proxy->bundleURL));
    }
    platform::Value::Dictionary entry;
    entry.emplace(kIdentifierKey, identifier);
    entry.emplace(kDisplayNameKey, std::move(displayName));
    applications.insert_or_assign(identifier, platform::Value(std::move(entry)));
    identifiers.emplace_back(identifier);
  }

  platform::Value::Dictionary result;
  result.emplace(kIdentifiersKey, platform::Value(std::move(identifiers)));
  result.emplace(kApplicationsKey, platform::Value(std::move(applications)));
  return platform::Value(std::move(result));
}
