#include "WorkspaceLookahead_p.h"

#include <pthread.h>
#include <signal.h>

#include <system_error>

namespace platform {
namespace {

// Below this many bundles a second thread costs about what it saves.
constexpr std::size_t kFewestBundles = 256;

void lookAt(OpenFolder& root, const std::string& path, LookedAt& look) {
  look.found = root.fileIdentity(path.c_str(), look.identity).isOk();
  look.looked = true;
}

}  // namespace

WorkspaceLookahead::WorkspaceLookahead(Env& env, const std::string& deviceRoot, const Arena& arena,
                                       const std::vector<BundleRecord>& records) {
  if (records.size() < kFewestBundles) return;
  if (!env.openFolder(deviceRoot, root_).isOk() || !root_->answersConcurrently()) {
    root_.reset();
    return;
  }
  // The scan's own thread checks the first half as it goes; by the time it reaches the second
  // half, the looks there are done. (The second thread's paths start at the root, a step or two
  // longer, which evens out what else the scan does per record.)
  first_ = records.size() / 2;
  const std::size_t prefix = deviceRoot.size() + (deviceRoot.ends_with('/') ? 0 : 1);
  bytes_ = arena.bytes;
  jobs_.resize(records.size() - first_);
  for (std::size_t i = first_; i < records.size(); ++i) {
    const BundleRecord& record = records[i];
    const std::string_view path = arena.view(record.path);
    // A record the scan reads again, or one outside the root, is left to the scan.
    if (record.racy || record.stale || path.size() <= prefix || !path.starts_with(deviceRoot) ||
        path[prefix - 1] != '/') {
      continue;
    }
    Job& job = jobs_[i - first_];
    job.folder = {record.path.offset + static_cast<std::uint32_t>(prefix),
                  record.path.size - static_cast<std::uint32_t>(prefix)};
    job.info = record.hasInfo;
    if (record.stringsKept && !record.stringsRacy) job.strings = record.stringsFolder;
  }
  looks_.resize(jobs_.size());
  // The thread takes no signal meant for the process it runs in: it starts with every signal
  // blocked, and it ends before the scan returns.
  sigset_t every;
  sigset_t before;
  sigfillset(&every);
  pthread_sigmask(SIG_SETMASK, &every, &before);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    root_.reset();  // no thread to be had: the scan looks at every file itself
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

WorkspaceLookahead::~WorkspaceLookahead() {
  if (thread_.joinable()) thread_.join();
}

void WorkspaceLookahead::run() {
  auto view = [&](Text text) { return std::string_view(bytes_).substr(text.offset, text.size); };
  try {
    std::string path;
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
      const Job& job = jobs_[i];
      if (!job.folder.present()) continue;
      path.assign(view(job.folder));
      const std::size_t end = path.size();
      if (job.info) {
        lookAt(*root_, path.append("/").append(kInfoPlist), looks_[i].info);
        path.resize(end);
      }
      if (job.strings.present()) {
        path.append("/").append(view(job.strings)).append("/").append(kStringsFile);
        lookAt(*root_, path, looks_[i].strings);
        path.resize(end);
      }
      // Last: a record whose folder was looked at has had all its looks.
      lookAt(*root_, path, looks_[i].folder);
    }
  } catch (...) {
    // Out of memory for an error's message: the looks not made are left to the scan.
  }
}

const BundleLook* WorkspaceLookahead::at(std::size_t index) {
  if (!root_ || index < first_ || index - first_ >= looks_.size()) return nullptr;
  if (thread_.joinable()) thread_.join();
  const BundleLook& look = looks_[index - first_];
  return look.folder.looked ? &look : nullptr;
}

}  // namespace platform
