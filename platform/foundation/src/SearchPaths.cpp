#include "platform/foundation/SearchPaths.h"

#include <algorithm>

#include "platform/foundation/Env.h"
#include "platform/foundation/Process.h"

namespace platform {

std::vector<std::string> NSSearchPathForDirectoriesInDomains(SearchPathDirectory directory,
                                                             unsigned mask, bool expandTilde) {
  const bool support = directory == SearchPathDirectory::ApplicationSupport;
  const std::string library = support ? "Library/Application Support" : "Library";
  const std::string root = deviceRoot();
  std::vector<std::string> paths;
  auto add = [&](std::string path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end())
      paths.push_back(std::move(path));
  };
  if ((mask & UserDomainMask) != 0) add(joinPath(expandTilde ? userHome() : "~", library));
  if ((mask & LocalDomainMask) != 0) add(joinPath(root, library));
  if ((mask & NetworkDomainMask) != 0) add(joinPath(root, joinPath("Network", library)));
  if ((mask & SystemDomainMask) != 0) add(joinPath(root, support ? library : "System/Library"));
  return paths;
}

}  // namespace platform
