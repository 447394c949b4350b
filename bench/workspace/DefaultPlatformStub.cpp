// Links the benchmark while the platform library has no default platform yet. The benchmark
// always passes its own workspace, so reaching this is a fault.
#include <cstdio>
#include <cstdlib>

#include "platform/Platform.h"

platform::Platform& platform::defaultPlatform() {
  std::fputs("workspace benchmark: the default platform is not available in this build\n", stderr);
  std::abort();
}
