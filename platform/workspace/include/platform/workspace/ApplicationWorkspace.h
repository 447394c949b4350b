// The applications installed on a device root, as the platform's application workspace lists
// them: every bundle under <root>/Applications/*.app and
// <root>/var/containers/Bundle/Application/*/*.app, with its identifier, tags, name in the
// user's language, bundle folder and icon files. All file access and the language lookup go
// through the Env, so a MemoryEnv serves as a device in tests. Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

class Env;
struct BundleRecord;

// One installed application.
struct HX_PLATFORM_EXPORT ApplicationProxy {
  // CFBundleIdentifier; never empty.
  std::string applicationIdentifier;
  // The string elements of SBAppTags, in order; other elements are left out.
  std::vector<std::string> appTags;
  // The name in the user's language: CFBundleDisplayName, then CFBundleName, each taken
  // from the bundle's localisation table when it has the key, else from Info.plist. The
  // localisation is the first "<name>.lproj" folder present among preferredLocalizations(),
  // with the bundle's CFBundleDevelopmentRegion tried before "en"; its table is that folder's
  // InfoPlist.strings (none when missing or malformed). None when no string is found; an
  // empty string found is kept as it is.
  std::optional<std::string> localizedName;
  // The path of the bundle folder ("<root>/Applications/Mail.app").
  std::string bundleURL;
};

class HX_PLATFORM_EXPORT ApplicationWorkspace {
 public:
  // `env` must outlive the workspace; both it and `deviceRoot` are fixed for its life. With a
  // `cachePath`, what the workspace learnt of the device is kept in that file for the next
  // workspace over the same device (another process, say): the first scan then starts from it
  // and checks each listing and file against its identity, as a later scan of the same
  // workspace does, so that nothing read from it outlives a change. The file's folder is made
  // when missing; an unreadable or damaged file is passed over and written anew.
  ApplicationWorkspace(Env& env, std::string deviceRoot, std::string cachePath = {});
  ~ApplicationWorkspace();
  ApplicationWorkspace(const ApplicationWorkspace&) = delete;
  ApplicationWorkspace& operator=(const ApplicationWorkspace&) = delete;

  const std::string& deviceRoot() const { return deviceRoot_; }

  // Every installed application, as the device root holds it now: the system folder's
  // bundles by name, then the containers' by folder and name. A bundle without a readable
  // Info.plist with a dictionary root and a non-empty string CFBundleIdentifier is skipped;
  // the others are still listed. Values of the wrong kind are ignored as if absent. Two
  // bundles with the same identifier are both listed. A missing folder lists nothing.
  // Each folder is listed once (a bundle's localisation folders are found in the listing of
  // the bundle). A folder's listing, a parsed Info.plist or localisation table is reused
  // while its folder or file keeps its identity
  // (device, inode, size and times) and was not modified in the last two seconds, so a
  // changed file or folder is always read again.
  std::vector<ApplicationProxy> allInstalledApplications() const;

  // The path of the icon file of the installed application `identifier` that best fits
  // `pointSize` points at `scale` (pixels = points x scale): a file of exactly that many
  // pixels, else the smallest larger one, else the largest. Candidates come from the first
  // icon source that names an existing PNG: CFBundleIcons > CFBundlePrimaryIcon >
  // CFBundleIconFiles, then CFBundleIconFiles, then CFBundleIconFile, then the default
  // names AppIcon60x60 and Icon; for each name <n> the files <n>@2x.png, <n>@3x.png, <n>.png
  // and <n> itself. Files that are not PNGs, or over the image caps of PngHeader.h, are
  // passed over. None when the application is not installed or has no usable icon. When two
  // bundles share the identifier, the one listed last is used.
  // The bundle's files are those its folder held at the last allInstalledApplications() (or
  // now, when that did not list it); the size of an icon file is read again only when the
  // file's identity changed.
  std::optional<std::string> iconPathForIdentifier(const std::string& identifier, double pointSize,
                                                   double scale) const;

  // A name for the icon files of the installed application `identifier` that changes when
  // its bundle does: the bundle folder with the identity of the folder and of its Info.plist,
  // as the last allInstalledApplications() saw them (looked at now when that did not list
  // the application). Installing or updating a bundle adds, removes or renames files in its
  // folder, so the name changes; an icon file rewritten in place under its own name keeps
  // it. A bundle changed within the last two seconds gets a new name on every call. None
  // when the application is not installed or its folder holds no file named as a candidate
  // by iconPathForIdentifier() (whether the files are usable PNGs is not looked at).
  std::optional<std::string> iconVersionForIdentifier(const std::string& identifier) const;

  // The localisation folders tried, best first, for the user's language: from LANGUAGE (its
  // first entry), LC_ALL, LC_MESSAGES or LANG, whichever is set first, without encoding and
  // modifier ("de_DE.UTF-8@euro" gives "de_DE", "de-DE", "de"), then "en" and "Base". "C"
  // and "POSIX" name no language.
  std::vector<std::string> preferredLocalizations() const;

 private:
  struct FileCache;

  // The record of the bundle now carrying `identifier`, its Info.plist checked against its
  // identity (and the bundle read again when it changed); valid until the next scan.
  BundleRecord* findBundle(const std::string& identifier) const;

  Env& env_;
  const std::string deviceRoot_;
  const std::string cachePath_;
  const std::unique_ptr<FileCache> cache_;
};

}  // namespace platform
