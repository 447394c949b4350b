// The identity checks of a scan, made ahead of it on a second thread. At thousands of bundles a
// scan of an unchanged device is mostly these checks (a bundle's folder, its Info.plist and its
// localisation table), and their time goes to the kernel's path walk, which a second core
// shares. Only where the device's folder answers concurrently (see
// OpenFolder::answersConcurrently): an Env that wraps another sees every call on the scan's own
// thread, in order. Private to the workspace.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "WorkspaceFileCache.h"
#include "platform/foundation/Env.h"

namespace platform {

// What was found at one of a record's files: unset when the scan should look itself.
struct LookedAt {
  bool looked = false;
  bool found = false;
  FileIdentity identity;

  // Whether the file is still the one of `kept`; false when it was looked for and not found.
  bool matches(const FileIdentity& kept) const { return found && identity == kept; }
};

// The three files of one kept bundle record, as found ahead of the scan.
struct BundleLook {
  LookedAt folder;
  LookedAt info;
  LookedAt strings;
};

class WorkspaceLookahead {
 public:
  // Starts looking at the files of the later records of `records` (those the scan would check
  // rather than read), relative to `deviceRoot`; looks at nothing when the device is small or
  // its folder cannot be looked at concurrently.
  WorkspaceLookahead(Env& env, const std::string& deviceRoot, const Arena& arena,
                     const std::vector<BundleRecord>& records);
  ~WorkspaceLookahead();
  WorkspaceLookahead(const WorkspaceLookahead&) = delete;
  WorkspaceLookahead& operator=(const WorkspaceLookahead&) = delete;

  // What was found for records[index]; null when the scan should look itself. Waits for the
  // second thread the first time it is asked about a record of its share.
  const BundleLook* at(std::size_t index);

 private:
  // A record's files, by where they are named in bytes_.
  struct Job {
    Text folder;   // relative to the device root; absent when the scan looks itself
    Text strings;  // the localisation folder, when the record keeps a table
    bool info = false;
  };
  void run();

  std::unique_ptr<OpenFolder> root_;
  std::size_t first_ = 0;  // the index of the first record of the second thread's share
  std::string bytes_;      // the arena's bytes as the scan started: it adds to them meanwhile
  std::vector<Job> jobs_;  // by record index from first_
  std::vector<BundleLook> looks_;
  std::thread thread_;
};

}  // namespace platform
