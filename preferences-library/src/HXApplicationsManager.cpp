#include "hx/HXApplicationsManager.h"

#include <algorithm>
#include <ranges>

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

std::vector<HXApplicationsManager::Application> HXApplicationsManager::applications() const {
  std::vector<platform::ApplicationProxy> installed = workspace_.allInstalledApplications();

  // Sort pointers, not proxies, each by its name folded once, and keep equal names in the
  // workspace's order.
  std::vector<std::pair<std::u32string, platform::ApplicationProxy*>> ordered;
  ordered.reserve(installed.size());
  for (auto& proxy : installed) {
    const std::string_view name = proxy.localizedName ? *proxy.localizedName : std::string_view();
    ordered.emplace_back(platform::caseInsensitiveKey(name), &proxy);
  }
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  std::vector<Application> listed;
  listed.reserve(ordered.size());
  for (platform::ApplicationProxy* proxy : ordered | std::views::values) {
    if (std::find(proxy->appTags.begin(), proxy->appTags.end(), kHiddenTag) !=
        proxy->appTags.end()) {
      continue;
    }
    if (std::find(blacklistedIdentifiers_.begin(), blacklistedIdentifiers_.end(),
                  proxy->applicationIdentifier) != blacklistedIdentifiers_.end()) {
      continue;
    }
    Application& application = listed.emplace_back();
    application.identifier = std::move(proxy->applicationIdentifier);
    if (proxy->localizedName && !proxy->localizedName->empty()) {
      application.displayName = std::move(*proxy->localizedName);
    } else {
      application.displayName =
          platform::deletingPathExtension(platform::lastPathComponent(proxy->bundleURL));
    }
  }
  return listed;
}

platform::Value HXApplicationsManager::allApplications() const {
  platform::Value::Array identifiers;
  platform::Value::Dictionary entries;
  std::vector<Application> listed = applications();
  identifiers.reserve(listed.size());
  for (Application& application : listed) {
    identifiers.emplace_back(application.identifier);
    platform::Value::Dictionary entry;
    entry.emplace(kIdentifierKey, application.identifier);
    entry.emplace(kDisplayNameKey, std::move(application.displayName));
    entries.insert_or_assign(std::move(application.identifier), platform::Value(std::move(entry)));
  }

  platform::Value::Dictionary result;
  result.emplace(kIdentifiersKey, platform::Value(std::move(identifiers)));
  result.emplace(kApplicationsKey, platform::Value(std::move(entries)));
  return platform::Value(std::move(result));
}
