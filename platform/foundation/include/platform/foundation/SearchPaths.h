// The standard folders of the emulated device (NSSearchPathForDirectoriesInDomains): the
// system and local domains live under the device root, the user domain under the user home.
#pragma once

#include <string>
#include <vector>

#include "platform/foundation/Export.h"

namespace platform {

enum class SearchPathDirectory { Library = 5, ApplicationSupport = 14 };

enum SearchPathDomainMask {
  UserDomainMask = 1,
  LocalDomainMask = 2,
  NetworkDomainMask = 4,
  SystemDomainMask = 8,
};

// The folders of `directory` in each domain of `mask`, in the order user, local, network,
// system; a path that an earlier domain already gave is not repeated (local and system share
// "Library/Application Support"). Library in the system domain is "System/Library" under the
// device root; ApplicationSupport in the system domain is "Library/Application Support" with
// no "System" prefix. The user domain starts with "~" unless `expandTilde`, in which case it
// starts with the user home. Unknown mask bits are ignored; no bit gives an empty list.
// The folders need not exist.
HX_PLATFORM_EXPORT std::vector<std::string> NSSearchPathForDirectoriesInDomains(
    SearchPathDirectory directory, unsigned mask, bool expandTilde);

}  // namespace platform
