#include "platform/foundation/Process.h"

#include <cstdlib>
#include <filesystem>
#include <optional>

#ifndef HX_STAGED_ROOT
#define HX_STAGED_ROOT ""
#endif
#ifndef HX_INSTALLED_ROOT
#define HX_INSTALLED_ROOT "/usr/local/share/halvex/device"
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

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

const std::string& mainBundleIdentifier() { return identity().bundleIdentifier; }
void setMainBundleIdentifier(std::string identifier) {
  identity().bundleIdentifier = std::move(identifier);
}

std::string deviceRoot() {
  if (identity().root) return *identity().root;
  if (auto root = environment("HALVEX_ROOT")) return *root;
  std::error_code error;
  const std::string staged = HX_STAGED_ROOT;
  if (!staged.empty() && std::filesystem::is_directory(staged, error)) return staged;
  return HX_INSTALLED_ROOT;
}
void setDeviceRoot(std::string path) { identity().root = std::move(path); }

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
void setUserHome(std::string path) { identity().home = std::move(path); }

std::string preferencesDirectory() { return userHome() + "/Library/Preferences"; }

}  // namespace platform
