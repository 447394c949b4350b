#include "platform/foundation/Process.h"

#include <dlfcn.h>

#include <optional>

#include "platform/foundation/Env.h"

#ifndef HX_STAGED_ROOT
#define HX_STAGED_ROOT ""
#endif
#ifndef HX_INSTALLED_ROOT
#define HX_INSTALLED_ROOT "/usr/local/share/halvex/device"
#endif
#ifndef HX_ROOT_FROM_PROGRAM
#define HX_ROOT_FROM_PROGRAM "../share/halvex/device"
#endif
#ifndef HX_ROOT_FROM_LIBRARY
#define HX_ROOT_FROM_LIBRARY "../share/halvex/device"
#endif

namespace platform {
namespace {

struct Identity {
  std::string bundleIdentifier;
  std::optional<std::string> root;
  std::optional<std::string> home;
};

Identity& identity() {
  static Identity* state = new Identity();  // process lifetime
  return *state;
}

// The installed sample device as seen from an installed file: the folder `relative` to the
// folder holding `file`, when it exists. An installed tree can be moved as a whole, so this
// holds wherever it lands, unlike the path fixed when the tree was built.
std::optional<std::string> besideInstalled(const std::string& file, const char* relative) {
  Env& env = defaultEnv();
  std::string real;
  if (file.empty() || !env.resolvePath(file, real).isOk()) return std::nullopt;
  std::string folder = joinPath(deletingLastPathComponent(real), relative);
  if (!env.resolvePath(folder, folder).isOk() || !env.isDirectory(folder)) return std::nullopt;
  return folder;
}

std::string runningProgram() {
  return "/proc/self/exe";
}

// The shared object that holds this code (libHXPlatform), which an agent may load from
// anywhere its program lives.
std::string thisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&runningProgram), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  return info.dli_fname;
}

std::optional<std::string> environment(const char* name) {
  std::optional<std::string> value = defaultEnv().getEnvironment(name);
  if (!value || value->empty()) return std::nullopt;
  return value;
}

}  // namespace

const std::string& mainBundleIdentifier() {
  return identity().bundleIdentifier;
}
void setMainBundleIdentifier(std::string identifier) {
  identity().bundleIdentifier = std::move(identifier);
}

std::string deviceRoot() {
  if (identity().root) return *identity().root;
  if (auto root = environment("HALVEX_ROOT")) return *root;
  if (auto root = besideInstalled(runningProgram(), HX_ROOT_FROM_PROGRAM)) return *root;
  if (auto root = besideInstalled(thisLibrary(), HX_ROOT_FROM_LIBRARY)) return *root;
  const std::string staged = HX_STAGED_ROOT;
  if (!staged.empty() && defaultEnv().isDirectory(staged)) return staged;
  return HX_INSTALLED_ROOT;
}
void setDeviceRoot(std::string path) {
  identity().root = std::move(path);
}

std::string userHome() {
  if (identity().home) return *identity().home;
  if (auto home = environment("HALVEX_HOME")) return *home;
  std::string data;
  if (auto xdg = environment("XDG_DATA_HOME")) {
    data = *xdg;
  } else {
    data = environment("HOME").value_or("/tmp") + "/.local/share";
  }
  return data + "/halvex/mobile";
}
void setUserHome(std::string path) {
  identity().home = std::move(path);
}

std::string preferencesDirectory() {
  return userHome() + "/Library/Preferences";
}

}  // namespace platform
