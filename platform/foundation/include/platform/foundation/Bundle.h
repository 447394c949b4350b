// A bundle: a folder with an Info.plist and resources, as NSBundle opens one. Opening never
// fails on a bad Info.plist; it only reads as empty. Safe to use from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Env.h"
#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

class HX_PLATFORM_EXPORT Bundle {
 public:
  // The bundle at `path` (bundleWithPath:), or nullptr when `path` is empty or no folder
  // exists there. `env` must outlive the bundle.
  static std::shared_ptr<Bundle> bundleWithPath(const std::string& path, Env& env = defaultEnv());

  Bundle(const Bundle&) = delete;
  Bundle& operator=(const Bundle&) = delete;

  const std::string& bundlePath() const { return path_; }

  // Info.plist of the bundle folder as a dictionary, read on first use and kept; None when
  // the file is missing, unreadable or not a dictionary.
  const Value& infoDictionary() const;

  // CFBundleIdentifier from the info dictionary; none when absent or not a string.
  std::optional<std::string> bundleIdentifier() const;

  // The path of resource `name` with extension `type` ("plist"; a leading dot is ignored;
  // empty when `name` carries its own extension): first in the bundle folder, then in its
  // Resources folder. None when `name` is empty or neither place has a file or folder of
  // that name.
  std::optional<std::string> pathForResourceOfType(const std::string& name,
                                                   const std::string& type) const;

 private:
  Bundle(std::string path, Env& env);

  const std::string path_;
  Env& env_;
  mutable std::once_flag infoOnce_;
  mutable Value info_;
};

}  // namespace platform
