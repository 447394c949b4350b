#include "platform/foundation/Bundle.h"

#include "platform/foundation/PropertyList.h"

namespace platform {

Bundle::Bundle(std::string path, Env& env) : path_(std::move(path)), env_(env) {}

std::shared_ptr<Bundle> Bundle::bundleWithPath(const std::string& path, Env& env) {
  if (path.empty() || !env.isDirectory(path)) return nullptr;
  return std::shared_ptr<Bundle>(new Bundle(path, env));
}

const Value& Bundle::infoDictionary() const {
  std::call_once(infoOnce_, [this] {
    if (auto info = readPropertyListFile(env_, joinPath(path_, "Info.plist"), FileKind::InfoPlist,
                                         ValueKind::Dictionary)) {
      info_ = std::move(*info);
    }
  });
  return info_;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  const Value& identifier = infoDictionary()["CFBundleIdentifier"];
  if (!identifier.isString()) return std::nullopt;
  return identifier.stringValue();
}

std::optional<std::string> Bundle::pathForResourceOfType(const std::string& name,
                                                         const std::string& type) const {
  if (name.empty()) return std::nullopt;
  const std::string extension = type.starts_with('.') ? type.substr(1) : type;
  const std::string file = extension.empty() ? name : name + "." + extension;
  for (const std::string& folder : {path_, joinPath(path_, "Resources")}) {
    const std::string candidate = joinPath(folder, file);
    if (env_.fileExists(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace platform
