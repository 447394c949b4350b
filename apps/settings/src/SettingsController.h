// The protocol between the browser and the Settings host, without the network: it turns the
// session's pages into JSON messages, numbers each distinct page with a version, keeps the
// changes between recent versions, and checks and carries out the actions that the page
// sends.
//
// Threads: the session is touched only on the pages' thread (refresh, hasUnseenChanges,
// perform, page, the images); what a browser is sent (version, pageMessage, updateFor, reply)
// may be read from another thread meanwhile, the network's, which so never waits for a page.
//
// Messages to the browser:
//   {"type":"page","version":N,"page":{...}}                  the current page with its first
//                                                             kFirstScreenRows rows and every
//                                                             section's row count
//   {"type":"delta","from":F,"version":N,"changes":[...]}     the changes from version F to N
//                                                             (see PageJson.h)
//   {"type":"rows","version":N,"section":S,"at":I,"count":C,"rows":[...]}
//                                                             rows I.. of section S of version
//                                                             N, which has C rows
//   {"type":"error","status":S,"reason":"...", then a page or the changes as above}
//   a refused action (S as in Reply::status); a change that was not stored is refused.
//   Any of them may carry "replyTo" with the "id" of the action it answers, and a page or
//   delta that answers an action may carry "notice": words on a change that was stored but
//   is not durable, or that other programs were not told of. A browser applies
//   changes only to version F, and asks for the whole page when it holds another.
// Actions from the browser (one JSON object, at most kMaxActionBytes):
//   {"action":"select","section":S,"row":R,"version":N,"target":{...}}
//   {"action":"setSwitch","section":S,"row":R,"on":true|false,"version":N,"target":{...}}
//   {"action":"back","below":B}
//   {"action":"rows","version":N,"section":S,"at":I,"count":K}
// "version" names the page the person acted on, and "target" the row as that page sent it:
// {"id":...,"title":...,"icon":...} copied from the row (see SettingsRowName). On the current
// version the action goes to row R of section S. On an older version of the same page, rows
// may have moved under the person's finger, so the action goes to the row the target names,
// wherever it is now. Where several rows fit, the one at S and R wins, then the only one in
// section S. A row that is gone, a target that fits several rows otherwise, and an action
// from another page than the one shown are refused (409) with words saying so.
// A browser holds a page as its first rows and each section's count, and asks for the rest in
// ranges ("rows", at most kMaxRowsPerRequest at a time); the rows of a range are read from the
// page only when first asked for. A range of an older version is answered with what brings the
// browser to the current one instead, and one outside the section is refused (400). Changes
// that land beyond the rows a browser holds only move its counts.
// "below" names the version of the page below that the browser kept when it opened the page
// shown: the answer to "back" is then the changes from that version, when the host kept it too.
// A section's "footerImage" is {"url":...,"height":H,"alt":"..."}: the footer view's URL
// (add "&w=WIDTH", and "&appearance=dark" for the dark drawing), the height it asks for and
// what it shows as text. A row's "searchable" is true for an entry of a list the page built
// itself (an application), which the page's search field filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include <mutex>
#include <variant>
#include <vector>

#include "PageJson.h"
#include "SettingsSession.h"

namespace platform {
class Value;
}

namespace settingsapp {

inline constexpr std::size_t kMaxActionBytes = 64 * 1024;
// The rows a page message carries, in page order: a tall window's worth.
inline constexpr std::size_t kFirstScreenRows = 60;
// The most rows one answer to a range carries.
inline constexpr std::size_t kMaxRowsPerRequest = 2000;

// The reason given for a change that was not stored.
inline constexpr const char* kNotStoredReason =
    "The change could not be saved. The page shows what is stored.";

class SettingsController {
 public:
  // `session` must outlive the controller.
  explicit SettingsController(SettingsSession& session);
  SettingsController(const SettingsController&) = delete;
  SettingsController& operator=(const SettingsController&) = delete;

  // Pages' thread: takes a new snapshot when the session's change count moved (or `force`),
  // and gives it a new version when it differs from the last one, keeping the changes from the
  // last one unless it shows another page. Returns true when the version moved. Two changes
  // the session made between two calls make one version. A session that throws keeps the last
  // snapshot.
  bool refresh(bool force = false);
  // Pages' thread: true when the session's change count moved since the last snapshot:
  // refresh() would take a new one. Cheap; false when the session throws.
  bool hasUnseenChanges();

  // Any thread.
  std::uint64_t version() const;
  // Pages' thread: the current snapshot.
  const SettingsPage& page() const { return page_; }
  // Any thread: {"type":"page","version":N,"page":{...}} for the current version, made when
  // first asked.
  std::string pageMessage();
  // Any thread: the same with every row of the page; none while some of its rows are not read
  // yet (completePage reads them).
  std::optional<std::string> wholePageMessage();
  // Pages' thread: reads the rows of the current version not read yet.
  void completePage();
  // Pages' thread: the whole page as it stands: a change not taken in yet makes a new version
  // first, so that the rows read now belong with the first screen read before.
  std::string wholePageNow();
  // Any thread: what brings a browser that shows version `seen` to the current one: a delta
  // message when the changes of every version since `seen` are still kept (an empty one when
  // `seen` is current) and together smaller than kMaxDeltaBytes, else the page message; with
  // the version it brings the browser to.
  struct Update {
    std::string message;
    std::uint64_t version = 0;
  };
  Update updateFor(std::uint64_t seen);
  std::string updateMessage(std::uint64_t seen) { return updateFor(seen).message; }

  // What an action came to, before it is put into words for a browser.
  struct ActionResult {
    int status = 200;    // as Reply::status
    std::string reason;  // why it was refused
    std::string notice;  // on a stored change that is not durable or was not announced
    std::optional<std::int64_t> replyTo;
    // The version the browser holds, which the answer's changes start from; none: the one
    // the caller says it has seen.
    std::optional<std::uint64_t> from;
    // The fields of a "rows" message, when the action asked for rows.
    std::string rows;
  };
  struct Reply {
    int status = 200;           // 200 done, 400 malformed, impossible or not stored, 409 the row
                                // acted on is gone, 500 failure
    std::string body;           // a page or an error message, as above
    std::uint64_t version = 0;  // the version the body brings a browser to
  };
  // Pages' thread: parses, checks and performs one action, then refreshes. What the action's
  // writes came to is gathered on this thread while it runs: a write that stored nothing
  // refuses the action (the page shows what is stored), one stored but not durable or not
  // announced gives a notice. Never throws.
  ActionResult perform(std::string_view text);
  // Any thread: the reply to `result`, carrying the whole current page, or the update from
  // `seen` when given.
  Reply reply(const ActionResult& result, const std::optional<std::uint64_t>& seen);
  // Both at once, on the pages' thread: the body carries the whole current page, or for
  // handleActionFrom what updateFor(seen) would send instead.
  Reply handleAction(std::string_view text) { return reply(perform(text), std::nullopt); }
  Reply handleActionFrom(std::string_view text, std::uint64_t seen) {
    return reply(perform(text), seen);
  }

  // Pages' thread: the PNG of a row image or of a section's footer view of the current page;
  // none when the key or the section names nothing. `width` is clamped to 160..1600 points.
  // Never throws.
  std::optional<std::string> imagePng(std::string_view key);
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance = Appearance::Light);

  // As imageUrl and footerUrl of PageJson.h.
  static std::string imageUrl(std::string_view key) { return settingsapp::imageUrl(key); }
  static std::string footerUrl(std::size_t section, std::uint64_t version) {
    return settingsapp::footerUrl(section, version);
  }
  // True for keys made only of letters, digits, '-' and '_' (1 to 128 of them).
  static bool isValidImageKey(std::string_view key);

 private:
  ActionResult performNow(std::string_view text);
  ActionResult rowsNow(const platform::Value& message, const std::optional<std::int64_t>& replyTo);
  // Reads the rows of `page` that its snapshot left unread.
  void readRest(SettingsPage& page);
  // Reads rows of the current page's `section` until it holds the first `end` of them.
  void ensureRows(std::size_t section, std::size_t end);
  // Where the row that an action made on version `seen` at `section` and `row` names by
  // `target` is on the current page, or why it cannot be found there.
  struct Place {
    std::size_t section = 0;
    std::size_t row = 0;
  };
  std::variant<Place, std::string> placeNow(const platform::Value& target, std::int64_t seen,
                                            std::int64_t section, std::int64_t row) const;
  // The page message, made when first asked. REQUIRES: published_ held.
  const std::string& pageMessageLocked();
  // "from":F,"version":N,"changes":[...] from `seen`, or none when not every version since
  // is kept or they add up past kMaxDeltaBytes.
  std::optional<std::string> changesFrom(std::uint64_t seen) const;

  // The changes that made one version from version `base` (the one before it, or a kept
  // version of the page gone back to); none when it showed another page.
  struct Step {
    std::uint64_t version = 0;
    std::uint64_t base = 0;
    std::optional<std::string> changes;
  };
  // A version of a page below the current one, kept to send the changes since when it shows
  // again.
  struct Kept {
    std::uint64_t version = 0;
    SettingsPage page;
  };
  static constexpr std::size_t kKeptSteps = 32;

  SettingsSession& session_;
  std::optional<std::uint64_t> seenChangeCount_;
  bool hasPage_ = false;
  // What a browser is sent. Written on the pages' thread under the mutex, read there without
  // it; read elsewhere under it.
  mutable std::mutex published_;
  std::uint64_t version_ = 0;
  SettingsPage page_;
  // The first version of the page shown: versions from it on are changes of this page, not
  // another one.
  std::uint64_t pageSince_ = 0;
  std::string pageMessage_;       // empty until asked for
  std::string wholePageMessage_;  // empty until asked for
  std::deque<Step> steps_;        // the last kKeptSteps versions, oldest first
  std::vector<Kept> below_;       // complete versions of the pages below, by depth
};

// Past this size, changes are sent as the whole page instead.
inline constexpr std::size_t kMaxDeltaBytes = 256 * 1024;

}  // namespace settingsapp
