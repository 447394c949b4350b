#include "ApplicationIcons_p.h"

#if defined(HX_UI_HAS_WORKSPACE)
#include "platform/Platform.h"
#include "platform/workspace/ApplicationWorkspace.h"
#endif

namespace platform::uidetail {

namespace {

UIImage::IconSource& installedSource() {
  static auto* source = new UIImage::IconSource();  // process lifetime
  return *source;
}

std::optional<std::string> workspaceIconPath([[maybe_unused]] const std::string& identifier,
                                             [[maybe_unused]] double pointSize,
                                             [[maybe_unused]] double scale) {
#if defined(HX_UI_HAS_WORKSPACE)
  return platform::defaultPlatform().workspace.iconPathForIdentifier(identifier, pointSize, scale);
#else
  return std::nullopt;
#endif
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

}  // namespace platform::uidetail
