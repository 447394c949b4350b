#include "platform/settings-host/SettingsPlugins.h"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <map>
#include <unordered_set>

#include "SettingsHostIO_p.h"
#include "platform/foundation/Env.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/StringCompare.h"
#include "platform/settings-host/PSListController.h"
#include "platform/settings-host/PluginAbi.h"
#include "platform/settings-host/SettingsHost.h"

namespace platform {
namespace {

constexpr const char* kEntriesFolder = "Library/PreferenceLoader/Preferences";

struct LoadedBundle {
  std::string error;  // "" once the executable loaded and registered its classes
  Value info;         // Info.plist
};

std::map<std::string, LoadedBundle>& loadedBundles() {
  static auto* bundles = new std::map<std::string, LoadedBundle>();  // process lifetime
  return *bundles;
}

std::map<std::string, std::string, std::less<>>& classBundles() {
  static auto* classes = new std::map<std::string, std::string, std::less<>>();
  return *classes;
}

void collectPlists(Env& env, const std::string& folder, int depth, std::vector<std::string>& out) {
  std::vector<std::string> names;
  // A symlink loop must not recurse forever; real entry folders are one or two levels deep.
  if (depth > 8 || !env.listDirectory(folder, names).isOk()) return;
  for (const std::string& name : names) {
    const std::string path = joinPath(folder, name);
    if (env.isDirectory(path)) {
      collectPlists(env, path, depth + 1, out);
    } else if (pathExtension(name) == "plist") {
      out.push_back(path);
    }
  }
}

std::string findBundle(Env& env, const std::string& root, const Value& entry,
                       const std::string& bundleName) {
  std::vector<std::string> candidates;
  if (entry["bundlePath"].isString() && !entry["bundlePath"].stringValue().empty()) {
    candidates.push_back(joinPath(root, entry["bundlePath"].stringValue()));
  }
  candidates.push_back(joinPath(root, "Library/PreferenceBundles/" + bundleName + ".bundle"));
  candidates.push_back(
      joinPath(root, "System/Library/PreferenceBundles/" + bundleName + ".bundle"));
  for (const std::string& candidate : candidates) {
    if (env.isDirectory(candidate)) return candidate;
  }
  return {};
}

std::optional<SettingsEntry> entryFromPlist(Env& env, const std::string& root,
                                            const std::string& path) {
  std::string error;
  std::optional<Value> plist = hostio::readPropertyList(env, path, FileKind::ListPagePlist, error);
  if (!plist) {
    NSLog("Settings entry " + path + " is unreadable (" + error + "); it is left out");
    return std::nullopt;
  }
  const Value& entry = (*plist)["entry"];
  if (!entry.isDictionary()) {
    NSLog("Settings entry " + path + " has no \"entry\" dictionary; it is left out");
    return std::nullopt;
  }
  const Value& label = entry["label"];
  const Value& bundle = entry["bundle"];
  if (!label.isString() || label.stringValue().empty() || !bundle.isString() ||
      bundle.stringValue().empty()) {
    NSLog("Settings entry " + path + " needs a text \"label\" and \"bundle\"; it is left out");
    return std::nullopt;
  }
  SettingsEntry result;
  result.label = label.stringValue();
  result.bundleName = bundle.stringValue();
  result.sourcePath = path;
  result.bundlePath = findBundle(env, root, entry, result.bundleName);
  if (result.bundlePath.empty()) {
    NSLog("Settings entry " + path + " names the bundle \"" + result.bundleName +
          "\", which is not installed; it is left out");
    return std::nullopt;
  }
  if (entry["icon"].isString() && !entry["icon"].stringValue().empty()) {
    const std::string icon = joinPath(result.bundlePath, entry["icon"].stringValue());
    if (env.fileExists(icon)) result.iconPath = icon;
  }
  result.specifier = std::make_shared<PSSpecifier>();
  Value::Dictionary properties = entry.dictionaryValue();
  properties["cell"] = Value("PSLinkCell");
  result.specifier->setProperties(std::move(properties));
  return result;
}

// The folder of installed plug-ins' machine code: PreferenceBundles beside the library holding
// this code. A package keeps machine code out of the device's architecture-independent files,
// so an installed bundle folder holds the plists and images and this folder the executable.
std::string installedPluginsFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&installedPluginsFolder), &info) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  return joinPath(deletingLastPathComponent(info.dli_fname), "PreferenceBundles");
}

// Loads the executable and lets it register its classes; the reason when that fails.
std::string loadExecutable(Env& env, const std::string& bundlePath, const Value& info) {
  const std::string bundleName = lastPathComponent(bundlePath);
  std::string executable = info["CFBundleExecutable"].stringValue();
  if (executable.empty()) executable = deletingPathExtension(bundleName);
  std::string path = joinPath(bundlePath, executable);
  if (!env.fileExists(path)) {
    const std::string installed =
        joinPath(joinPath(installedPluginsFolder(), bundleName), executable);
    if (env.fileExists(installed)) path = installed;
  }

  // RTLD_NOW, so that a missing symbol shows here with its name and not as a crash later.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    return "The executable of " + bundleName +
           " could not be loaded: " + (reason != nullptr ? reason : path);
  }
  dlerror();
  void* symbol = dlsym(handle, HX_SETTINGS_PLUGIN_ENTRY_SYMBOL);
  if (symbol == nullptr) {
    return "The executable " + path + " has no entry point " + HX_SETTINGS_PLUGIN_ENTRY_SYMBOL;
  }
  auto entry = reinterpret_cast<HXSettingsPluginEntry>(symbol);
  const HXSettingsPluginInfo* plugin = nullptr;
  try {
    plugin = entry();
  } catch (const std::exception& e) {
    return "The entry point of " + bundleName + " failed: " + e.what();
  } catch (...) {
    return "The entry point of " + bundleName + " failed";
  }
  if (plugin == nullptr) return "The entry point of " + bundleName + " returned nothing";
  if (plugin->apiVersion != HX_SETTINGS_PLUGIN_API_VERSION) {
    return bundleName + " was built for settings plug-in API version " +
           std::to_string(plugin->apiVersion) + "; this host runs version " +
           std::to_string(HX_SETTINGS_PLUGIN_API_VERSION);
  }
  if (plugin->registerClasses == nullptr) return bundleName + " registers no classes";

  std::vector<std::string> before = ClassRegistry::shared().classNames();
  std::unordered_set<std::string> known(before.begin(), before.end());
  std::string failure;
  try {
    plugin->registerClasses();
  } catch (const std::exception& e) {
    failure = bundleName + " failed to register its classes: " + e.what();
  } catch (...) {
    failure = bundleName + " failed to register its classes";
  }
  // Classes registered before a failure still came from this bundle.
  for (const std::string& name : ClassRegistry::shared().classNames()) {
    if (known.count(name) == 0) classBundles()[name] = bundlePath;
  }
  return failure;
}

}  // namespace

std::vector<SettingsEntry> readSettingsEntries(Env& env, const std::string& deviceRoot) {
  std::vector<std::string> plists;
  collectPlists(env, joinPath(deviceRoot, kEntriesFolder), 0, plists);
  std::vector<SettingsEntry> entries;
  for (const std::string& path : plists) {
    if (auto entry = entryFromPlist(env, deviceRoot, path)) entries.push_back(std::move(*entry));
  }
  // Labels equal but for case keep a fixed order, so that the list reads the same every run.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const SettingsEntry& a, const SettingsEntry& b) {
                     const ComparisonResult order = caseInsensitiveCompare(a.label, b.label);
                     return order == ComparisonResult::Same ? a.label < b.label
                                                            : order == ComparisonResult::Ascending;
                   });
  return entries;
}

SettingsPageLoad loadSettingsBundlePage(Env& env, const std::string& bundlePath,
                                        const std::string& fallbackClassName) {
  registerSettingsHostClasses();
  const std::string bundleName = lastPathComponent(bundlePath);
  auto [it, inserted] = loadedBundles().try_emplace(bundlePath);
  LoadedBundle& bundle = it->second;
  if (inserted) {
    std::string error;
    std::optional<Value> info = hostio::readPropertyList(env, joinPath(bundlePath, "Info.plist"),
                                                         FileKind::InfoPlist, error);
    if (!info || !info->isDictionary()) {
      bundle.error = "The bundle " + bundleName + " has no readable Info.plist" +
                     (error.empty() ? std::string() : " (" + error + ")");
    } else {
      bundle.info = *info;
      bundle.error = loadExecutable(env, bundlePath, bundle.info);
    }
    if (!bundle.error.empty()) NSLog(bundle.error);
  }
  if (!bundle.error.empty()) return {nullptr, bundle.error};

  std::string name = bundle.info["NSPrincipalClass"].stringValue();
  if (name.empty()) name = fallbackClassName;
  if (name.empty()) return {nullptr, "The bundle " + bundleName + " names no principal class"};
  const Class* cls = ClassRegistry::shared().lookup(name);
  if (cls == nullptr) {
    return {nullptr, "The bundle " + bundleName + " names the class " + name +
                         ", which it did not register"};
  }
  if (!cls->isSubclassOf(PSListController::staticClass())) {
    return {nullptr, "The class " + name + " of " + bundleName + " is not a list page"};
  }
  std::shared_ptr<PSListController> page;
  try {
    page = std::dynamic_pointer_cast<PSListController>(cls->create());
  } catch (const std::exception& e) {
    return {nullptr, "The page " + name + " of " + bundleName + " failed to start: " + e.what()};
  }
  if (!page) return {nullptr, "The page " + name + " of " + bundleName + " could not be made"};
  page->setBundlePath(bundlePath);
  return {page, {}};
}

std::string bundlePathForClassName(const std::string& name) {
  auto it = classBundles().find(name);
  return it == classBundles().end() ? std::string() : it->second;
}

}  // namespace platform
