// Notices preference domains replaced by a writer that announces nothing (a plain copy of the
// file, an editor) or that died before counting: each check compares the identity of the domain
// files with the last check's, and has the store take in each one that changed, which counts it,
// so that every other reader of the domain sees it too. Programs call check() on a timer (once a
// second: the bound within which such a change is seen); announced changes need no check.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Env.h"
#include "platform/foundation/Export.h"

namespace platform {

class PreferenceStore;

class HX_PLATFORM_EXPORT DomainFileWatch {
 public:
  // Watches every domain of `store`'s folder, or only `domain` when given. Takes the files'
  // identities now. `env` and `store` must outlive the watch.
  DomainFileWatch(Env& env, PreferenceStore& store, std::optional<std::string> domain = {});

  // The domains whose file appeared, went or was replaced since the last check, sorted; each
  // one still there has been taken in by the store.
  std::vector<std::string> check();

 private:
  std::map<std::string, FileIdentity> identities();

  Env& env_;
  PreferenceStore& store_;
  const std::optional<std::string> domain_;
  std::map<std::string, FileIdentity> last_;
};

}  // namespace platform
