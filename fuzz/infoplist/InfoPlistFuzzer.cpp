// Any bytes as an application's Info.plist (and, after a "\n#strings\n" line, as its English
// InfoPlist.strings) on a device held in memory, listed as the workspace lists it and asked
// for its icon. Whatever the files say, an entry has an identifier, and nothing the
// workspace touches lies outside the device root or climbs out of a folder with "..".
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../DeviceEnv.h"
#include "platform/foundation/Env.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

constexpr std::string_view kRoot = "/device";
constexpr std::string_view kBundle = "/device/Applications/App.app";

void checkPath(const std::string& path) {
  if (!path.starts_with(kRoot) || (path.size() > kRoot.size() && path[kRoot.size()] != '/')) {
    std::abort();
  }
  if (path.find("/../") != std::string::npos || path.ends_with("/..")) std::abort();
}

// The header of a `pixels`-square PNG, which is all that icon lookup reads.
std::string pngHeader(unsigned pixels) {
  std::string bytes("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (int i = 0; i < 2; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8)
      bytes.push_back(static_cast<char>(pixels >> shift));
  }
  return bytes + std::string("\x08\x06\0\0\0", 5);
}

void write(platform::Env& env, const std::string& path, std::string_view bytes) {
  env.createDirectories(platform::deletingLastPathComponent(path), 0755);
  env.writeFileAtomically(path, std::string(bytes), 0644);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSeparator = "\n#strings\n";
  const std::size_t split = input.find(kSeparator);
  const std::string_view info = input.substr(0, split);

  const std::unique_ptr<platform::Env> memory = platform::newMemoryEnv(platform::defaultEnv());
  const std::string bundle(kBundle);
  write(*memory, bundle + "/Info.plist", info);
  if (split != std::string_view::npos) {
    write(*memory, bundle + "/en.lproj/InfoPlist.strings", input.substr(split + kSeparator.size()));
  }
  write(*memory, bundle + "/Icon.png", pngHeader(60));
  write(*memory, bundle + "/Icon@2x.png", pngHeader(120));
  write(*memory, bundle + "/AppIcon29x29@3x.png", pngHeader(87));
  write(*memory, bundle + "/Huge@2x.png", pngHeader(60000));

  fuzzing::DeviceEnv env(*memory, checkPath);
  platform::ApplicationWorkspace workspace(env, std::string(kRoot));
  for (const platform::ApplicationProxy& application : workspace.allInstalledApplications()) {
    if (application.applicationIdentifier.empty() || application.bundleURL != kBundle) std::abort();
    for (const double points : {29.0, 60.0}) {
      const auto icon =
          workspace.iconPathForIdentifier(application.applicationIdentifier, points, 2);
      if (icon && (!icon->starts_with(bundle + "/") ||
                   icon->find('/', bundle.size() + 1) != std::string::npos ||
                   icon->ends_with("Huge@2x.png"))) {
        std::abort();
      }
    }
  }
  return 0;
}
