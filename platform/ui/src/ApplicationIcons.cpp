#include "ApplicationIcons_p.h"

#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "platform/foundation/Env.h"
#include "platform/foundation/PngHeader.h"

#include "platform/Platform.h"
#include "platform/workspace/ApplicationWorkspace.h"

namespace platform::uidetail {

namespace {

UIImage::IconSource& installedSource() {
  static auto* source = new UIImage::IconSource();  // process lifetime
  return *source;
}

std::optional<std::string> workspaceIconPath(const std::string& identifier, double pointSize,
                                             double scale) {
  return platform::defaultPlatform().workspace.iconPathForIdentifier(identifier, pointSize, scale);
}

// "<path>|<device>:<inode>:<size>:<mtime>:<ctime>" for a regular file whose PNG header is
// within the decoding caps, else none. The header is read only when the file's identity is
// new, so a page of icons seen before costs a stat per icon.
std::optional<std::string> pngFileKey(const std::string& path) {
  platform::Env& env = platform::defaultEnv();
  platform::FileIdentity info;
  if (!env.fileIdentity(path, info).isOk() || info.size < 0 ||
      static_cast<std::uint64_t>(info.size) > platform::kMaxImageFileBytes) {
    return std::nullopt;
  }
  char identity[128];
  std::snprintf(
      identity, sizeof identity, "|%llx:%llx:%llx:%lld:%lld",
      static_cast<unsigned long long>(info.device), static_cast<unsigned long long>(info.inode),
      static_cast<unsigned long long>(info.size), static_cast<long long>(info.mtimeNanoseconds),
      static_cast<long long>(info.ctimeNanoseconds));
  std::string key = path + identity;
  static auto* checked = new std::unordered_map<std::string, std::string>();  // path -> key
  if (auto known = checked->find(path); known != checked->end() && known->second == key) {
    return key;
  }
  // The header decides, as it does for a decode: a PNG within the caps of PngHeader.h. Read
  // through the Env, which takes only a plain file; this runs once per identity of the file.
  std::string bytes;
  if (!env.readFile(path, platform::FileKind::Image, bytes).isOk()) bytes.clear();
  const std::optional<platform::PngSize> size = platform::readPngSize(bytes);
  const bool png = size && size->width <= platform::kMaxImageSide &&
                   size->height <= platform::kMaxImageSide &&
                   std::uint64_t{size->width} * size->height <= platform::kMaxImagePixels;
  if (!png) {
    checked->erase(path);
    return std::nullopt;
  }
  checked->insert_or_assign(path, key);
  return key;
}

std::optional<std::string> workspaceIconVersion(const std::string& identifier) {
  return platform::defaultPlatform().workspace.iconVersionForIdentifier(identifier);
}

}  // namespace

UIImage::IconSource setIconSource(UIImage::IconSource source) {
  auto previous = std::move(installedSource());
  installedSource() = std::move(source);
  return previous;
}

std::optional<std::string> iconPath(const std::string& identifier, double pointSize, double scale) {
  if (identifier.empty()) return std::nullopt;
  const auto& source = installedSource();
  return source ? source(identifier, pointSize, scale)
                : workspaceIconPath(identifier, pointSize, scale);
}

std::optional<std::string> iconVersion(const std::string& identifier, double pointSize,
                                       double scale) {
  if (identifier.empty()) return std::nullopt;
  if (!installedSource()) return workspaceIconVersion(identifier);
  auto path = installedSource()(identifier, pointSize, scale);
  return path ? pngFileKey(*path) : std::nullopt;
}

}  // namespace platform::uidetail
