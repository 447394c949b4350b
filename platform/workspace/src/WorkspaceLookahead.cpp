#include "WorkspaceLookahead_p.h"

namespace platform {
namespace {

// Below this many bundles a second thread costs about what it saves.
constexpr std::size_t kFewestBundles = 256;

void lookAt(OpenFolder& root, const std::string& path, LookedAt& look) {
  if (path.empty()) return;
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
  // half, the looks there are done.
  first_ = records.size() / 2;
  const std::string prefix = deviceRoot.ends_with('/') ? deviceRoot : deviceRoot + "/";
  jobs_.resize(records.size() - first_);
  for (std::size_t i = first_; i < records.size(); ++i) {
    const BundleRecord& record = records[i];
    const std::string_view path = arena.view(record.path);
    // A record the scan reads again, or one outside the root, is left to the scan.
    if (record.racy || record.stale || !path.starts_with(prefix) || path.size() == prefix.size()) {
      continue;
    }
    Job& job = jobs_[i - first_];
    job.folder.assign(path.substr(prefix.size()));
    if (record.hasInfo) job.info = job.folder + "/Info.plist";
    if (record.stringsKept && !record.stringsRacy && record.stringsFolder.present()) {
      job.strings = job.folder + "/";
      job.strings.append(arena.view(record.stringsFolder)).append("/InfoPlist.strings");
    }
  }
  looks_.resize(jobs_.size());
  thread_ = std::thread([this] { run(); });
}

WorkspaceLookahead::~WorkspaceLookahead() {
  if (thread_.joinable()) thread_.join();
}

void WorkspaceLookahead::run() {
  try {
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
      const Job& job = jobs_[i];
      if (job.folder.empty()) continue;
      lookAt(*root_, job.folder, looks_[i].folder);
      lookAt(*root_, job.info, looks_[i].info);
      lookAt(*root_, job.strings, looks_[i].strings);
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
