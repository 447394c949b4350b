// An Env that keeps files, folders, locks and counters in memory, for tests, and that can show
// what a power loss would leave of them. The clock and the environment come from a base Env.
#pragma once

#include <memory>

#include "platform/foundation/Env.h"
#include "platform/foundation/Export.h"

namespace platform {

class HX_PLATFORM_EXPORT MemoryEnv : public Env {
 public:
  // `base` must outlive the environment.
  static std::unique_ptr<MemoryEnv> create(Env& base);

  // Leaves what a power loss would: in each folder the file entries as of its last
  // flushFolder() (none before the first), each with its contents as of its last
  // WritableFile::sync() (empty when never synced), and no shared counter. Folders, once made,
  // survive. REQUIRES: nothing holds a lock, a counter or an open file of this environment.
  virtual void dropUnflushed() = 0;
};

}  // namespace platform
