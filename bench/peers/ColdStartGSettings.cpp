// A fresh process that reads one per-application setting through GSettings and exits, printing
// its peak resident set in KiB. Argument: the application's settings path.
#include <gio/gio.h>

#include <cstdio>

#include "PeerWorld.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  GSettings* settings = g_settings_new_with_path(peers::kAppSchema, argv[1]);
  const bool autoLaunch = g_settings_get_boolean(settings, "auto-launch");
  g_object_unref(settings);
  std::printf("%ld\n", peers::peakResidentKiB());
  return autoLaunch ? 0 : 1;
}
