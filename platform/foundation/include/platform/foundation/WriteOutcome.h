// What a change came to, in the one rule every layer reports it by: the library's result, the
// programs' exit status and words, and the Settings page.
//   Stored          in the file and flushed, its folder flushed, and announced.
//   NotStored       nothing changed: the file holds what it held and nothing was announced.
//   NotDurable      in the file and seen by every reader, but its folder could not be flushed,
//                   so the change may not survive a power loss (the next write flushes again).
//   NotAnnounced    stored, but the notification that tells other processes could not be posted.
// The store reports its own writes; the notification centre reports posts that failed. A caller
// that needs the outcome of everything beneath one action (the Settings host, around a tap) opens
// a WriteOutcomeRecorder on its thread for the action's length.
#pragma once

#include <cstdint>
#include <string>

#include "platform/foundation/Export.h"

namespace platform {

enum class WriteOutcome : std::uint8_t { Stored, NotStored, NotDurable, NotAnnounced };

// The worse of two outcomes: NotStored over NotAnnounced over NotDurable over Stored.
HX_PLATFORM_EXPORT WriteOutcome worseOutcome(WriteOutcome a, WriteOutcome b);
// The words a person reads for `outcome` (empty for Stored).
HX_PLATFORM_EXPORT std::string describeOutcome(WriteOutcome outcome);
// What the programs say on the command line and exit with: "" and 0 for Stored; "not stored"
// and 1; "stored, but may not survive a power loss" and 3; "stored, but other programs were not
// told" and 4.
HX_PLATFORM_EXPORT const char* commandLineWords(WriteOutcome outcome);
HX_PLATFORM_EXPORT int exitStatusFor(WriteOutcome outcome);

// Collects the outcomes reported on the constructing thread while it lives. Recorders nest: a
// report reaches every recorder open on the thread. Not copyable; destroy on the same thread.
class HX_PLATFORM_EXPORT WriteOutcomeRecorder {
 public:
  WriteOutcomeRecorder();
  ~WriteOutcomeRecorder();
  WriteOutcomeRecorder(const WriteOutcomeRecorder&) = delete;
  WriteOutcomeRecorder& operator=(const WriteOutcomeRecorder&) = delete;

  // Whether any write or post was reported.
  bool reported() const { return reported_; }
  // The worst outcome reported; Stored when none was.
  WriteOutcome worst() const { return worst_; }

  // Called by the store after each write that meant to change a file, and by the notification
  // centre for each post that failed. Costs one thread-local load when no recorder is open.
  static void report(WriteOutcome outcome);

 private:
  WriteOutcomeRecorder* outer_;
  bool reported_ = false;
  WriteOutcome worst_ = WriteOutcome::Stored;
};

}  // namespace platform
