// The read side of a preference domain: following other processes' writes through the shared
// counter, reading only the part of the file another store's write changed when this one holds
// the file it started from, and reading the file whole otherwise.
#include <string>
#include <utility>

#include "PreferenceDomain_p.h"
#include "platform/foundation/Log.h"

namespace platform {

void PreferenceDomain::refresh() {
  read_ = true;
  // A read creates no file: the counter is made by the first write.
  if (!counter_ && env_.fileExists(counterPath_)) mapCounter();
  const auto before = counterValue();
  if (valid_ && before && before == counterSeen_) return;
  // A write made from the file held here is told by the counter: no look at the path first.
  if (readChangedPart()) {
    counterSeen_ = before;
    return;
  }

  FileIdentity identity;
  const Status status = env_.fileIdentity(path_, identity);
  if (!(valid_ && matchesLastRead(status, identity)) &&
      !readFromDisk(status.isOk(), PartialRead::Tried)) {
    return;
  }
  counterSeen_ = before;
}

bool PreferenceDomain::readChangedPart() {
  if (!valid_ || !identity_ || unreadable_ || !counter_ || !stored_.holdsOwnBytes()) return false;
  // Every writer stores the length kept, the base and then the tag, all after its rename. Words
  // loaded after the tag are that tag's write's, or a later write's, whose rename has already
  // replaced the file the tag names: the identity of the file read then differs from the tag, and
  // the part is refused.
  const std::uint64_t tag = counter_->loadTag();
  const std::uint64_t base = counter_->loadBase();
  const std::uint64_t kept = counter_->loadKept();
  if (tag == 0 || base != boundBase(tagOf(*identity_), tag) || kept == 0 ||
      counter_->loadTag() != tag) {
    return false;
  }
  std::optional<FileIdentity> accepted;
  const bool loaded = stored_.loadChangedPart(env_, path_, kept, [&](const FileIdentity& identity) {
    if (tagOf(identity) == tag) accepted = identity;
    return accepted.has_value();
  });
  if (loaded) identity_ = accepted;
  // Accepted but not a document after all: the contents are gone, so the file is read whole.
  if (!loaded && accepted) valid_ = false;
  return loaded;
}

bool PreferenceDomain::readFromDisk(bool found, PartialRead partial) {
  if (partial == PartialRead::Try && readChangedPart()) return true;
  // Two buffers take turns: the file is read into the spare one, and the replaced contents
  // give theirs back as the next spare, so a re-read allocates nothing and frees nothing large.
  std::string contents = std::move(spare_);
  std::unique_ptr<HeldFile> held;
  FileIdentity identity;
  const Status status =
      env_.readFileHeld(path_, FileKind::PreferenceDomain, contents, held, identity);
  // Not kept open: closing the last descriptor of a replaced file is what deletes it, and that
  // belongs to the writer that replaced it, not to a later read.
  held.reset();
  if (status.isNotFound() && found) {
    // Files are only ever replaced by a rename, which never leaves the path empty: a file just
    // seen that cannot be opened is a fault, and taking the domain as missing would lose it.
    NSLog("PreferenceStore: cannot read domain " + name_ + ": " + status.toString() +
          ", though the file was just there");
    valid_ = false;
    return false;
  }
  if (status.isNotFound()) {
    spare_ = stored_.recycle();
    identity_.reset();
    unreadable_ = false;
    valid_ = true;
    return true;
  }
  // Corruption: not a regular file, or over the size cap; as unreadable as a malformed file.
  const bool refused = status.code() == Status::Code::Corruption;
  if (!status.isOk() && !refused) {
    // Keep the last view; `valid_` off makes the next synchronisation try again.
    NSLog("PreferenceStore: cannot read domain " + name_ + ": " + status.toString());
    valid_ = false;
    return false;
  }

  const bool sameFile = identity_ && *identity_ == identity;
  identity_ = identity;
  valid_ = true;
  spare_ = stored_.recycle();
  const bool own = counter_ && counter_->loadTag() == tagOf(identity);
  if (!refused && stored_.load(std::move(contents),
                               own ? StoredDomain::Origin::Own : StoredDomain::Origin::Foreign)) {
    unreadable_ = false;
  } else if (!(unreadable_ && sameFile)) {
    markUnreadable(refused ? status.message() : std::string());
  }
  return true;
}

void PreferenceDomain::markUnreadable(const std::string& reason) {
  NSLog("PreferenceStore: " +
        (reason.empty() ? path_ + " is not a dictionary property list" : reason) +
        "; it reads as empty and is moved aside before the next write");
  stored_.clear();
  unreadable_ = true;
}

bool PreferenceDomain::matchesLastRead(const Status& status, const FileIdentity& identity) const {
  if (!valid_) return false;
  if (status.isNotFound()) return !identity_.has_value();
  return status.isOk() && identity_ && *identity_ == identity;
}

void PreferenceDomain::mapCounter() {
  std::unique_ptr<SharedCounter> counter;
  if (env_.mapSharedCounter(counterPath_, counter).isOk()) counter_ = std::move(counter);
}

std::optional<std::uint64_t> PreferenceDomain::counterValue() const {
  if (!counter_) return std::nullopt;
  return counter_->load();
}

}  // namespace platform
