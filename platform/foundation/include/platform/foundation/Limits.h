// Every bound the system puts on what another party can make it read or wait for: the largest
// file it reads of each kind, and how long it waits for a preference domain's lock. A file over
// its cap reads as unreadable, so a hostile or broken file costs at most its cap in time and
// memory. The README lists the same figures.
#pragma once

#include <cstdint>

namespace platform {

// What a read is for; each kind has its own size cap.
enum class FileKind {
  PreferenceDomain,  // a domain's data file in the Preferences folder
  InfoPlist,         // a bundle's Info.plist (applications, the resource bundle, plug-ins)
  StringsFile,       // a localised .strings table
  ListPagePlist,     // a settings page's specifier plist
  DefaultsPlist,     // the resource bundle's defaults.plist
  Image,             // an icon or image file
};

// The largest file of `kind`, in bytes, that a read accepts. Generous for any real file: a
// domain of 10,000 applications with five settings each takes about 3.5 MiB as indented XML.
constexpr std::int64_t maximumFileSize(FileKind kind) {
  constexpr std::int64_t kMiB = 1024 * 1024;
  switch (kind) {
    case FileKind::PreferenceDomain:
      return 8 * kMiB;
    case FileKind::StringsFile:
      return 2 * kMiB;
    case FileKind::Image:
      return 8 * kMiB;
    case FileKind::InfoPlist:
    case FileKind::ListPagePlist:
    case FileKind::DefaultsPlist:
      return 1 * kMiB;
  }
  return 0;
}

// How long taking a preference domain's lock may wait for another holder before the
// operation gives up and fails.
inline constexpr double kDomainLockWaitSeconds = 2.0;

}  // namespace platform
