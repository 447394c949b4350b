// A fresh process that reads one per-application setting through the store's library and exits,
// printing its peak resident set in KiB. Arguments: the home, the application identifier.
#include <cstdio>
#include <cstdlib>

#include "PeerWorld.h"
#include "hx/HXPreferences.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  ::setenv("HALVEX_HOME", argv[1], 1);
  const bool autoLaunch = HXPreferences::sharedPreferences().shouldAutoLaunchForIdentifier(argv[2]);
  std::printf("%ld\n", peers::peakResidentKiB());
  return autoLaunch ? 0 : 1;
}
