// Any bytes as the workspace's cache file (or, after a leading 'F', as its body in a frame that
// holds, so that the fuzzer reaches past the checksum), beside a small device held in memory whose
// files all settled an hour ago. Whatever the file says, the workspace lists only bundles the
// device holds and touches no path outside the device root (or the cache file itself), none with
// "..". (The in-memory Env numbers its files and times deterministically, so an input can name the
// very identities of the device's files; what the file says of them is then trusted, as it is
// meant to be, which is why the names listed are not checked here.)
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../../platform/workspace/src/WorkspaceCacheFrame_p.h"
#include "../DeviceEnv.h"
#include "platform/foundation/Env.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace {

constexpr std::string_view kRoot = "/device";
constexpr std::string_view kCache = "/home/Library/Caches/applications.cache";

void checkPath(const std::string& path) {
  if (path == kCache || path.starts_with(std::string(kCache) + ".")) return;  // its temp files
  if (!path.starts_with(kRoot) || (path.size() > kRoot.size() && path[kRoot.size()] != '/')) {
    std::abort();
  }
  if (path.find("/../") != std::string::npos || path.ends_with("/..") ||
      path.find("/./") != std::string::npos) {
    std::abort();
  }
}

std::string info(std::string_view identifier, std::string_view name) {
  return "<plist><dict><key>CFBundleIdentifier</key><string>" + std::string(identifier) +
         "</string><key>CFBundleName</key><string>" + std::string(name) +
         "</string><key>CFBundleIconFiles</key><array><string>Icon</string></array>"
         "</dict></plist>";
}

void write(platform::Env& env, const std::string& path, std::string_view bytes) {
  env.createDirectories(platform::deletingLastPathComponent(path), 0755);
  env.writeFileAtomically(path, std::string(bytes), 0644);
}

const std::vector<std::string> kBundles = {"/device/Applications/Mail.app",
                                           "/device/Applications/Broken.app",
                                           "/device/var/containers/Bundle/Application/U/Maps.app"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::unique_ptr<platform::Env> memory = platform::newMemoryEnv(platform::defaultEnv());
  const std::string root(kRoot);
  write(*memory, root + "/Applications/Mail.app/Info.plist", info("com.example.mail", "Mail"));
  write(*memory, root + "/Applications/Mail.app/en.lproj/InfoPlist.strings",
        "CFBundleDisplayName = \"Post\";");
  write(*memory, root + "/Applications/Mail.app/Icon.png", "not a picture");
  write(*memory, root + "/var/containers/Bundle/Application/U/Maps.app/Info.plist",
        info("com.example.maps", "Maps"));
  write(*memory, root + "/Applications/Broken.app/Info.plist", "<plist><dict/></plist>");
  write(*memory, std::string(kCache), std::string_view(reinterpret_cast<const char*>(data), size));

  fuzzing::DeviceEnv env(*memory, checkPath, 3600);
  for (int launch = 0; launch < 2; ++launch) {  // the second starts from what the first kept
    platform::ApplicationWorkspace workspace(env, root, std::string(kCache));
    for (const platform::ApplicationProxy& application : workspace.allInstalledApplications()) {
      if (std::find(kBundles.begin(), kBundles.end(), application.bundleURL) == kBundles.end() ||
          application.applicationIdentifier.empty()) {
        std::abort();
      }
      (void)workspace.iconPathForIdentifier(application.applicationIdentifier, 29, 2);
      (void)workspace.iconVersionForIdentifier(application.applicationIdentifier);
    }
  }
  return 0;
}
