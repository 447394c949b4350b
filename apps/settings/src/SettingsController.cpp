#include "SettingsController.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/foundation/Json.h"
#include "platform/foundation/Utf8.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WriteOutcome.h"

namespace settingsapp {
namespace {

using platform::Value;

std::optional<std::int64_t> integerField(const Value& value) {
  if (value.isInteger() && !value.isUnsignedInteger()) return value.integerBits();
  if (value.isReal()) {
    double number = value.realValue();
    if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9e15) {
      return static_cast<std::int64_t>(number);
    }
  }
  return std::nullopt;
}

// The start of a message: "{", with the "replyTo" field when it answers an action and the
// "notice" when it has one. Every message is an object, so the rest follows without its own
// '{'.
std::string openMessage(const std::optional<std::int64_t>& replyTo, std::string_view notice) {
  std::string open = replyTo ? "{\"replyTo\":" + std::to_string(*replyTo) + "," : "{";
  if (!notice.empty()) {
    open += "\"notice\":";
    appendJsonString(open, notice);
    open += ',';
  }
  return open;
}

}  // namespace

SettingsController::SettingsController(SettingsSession& session) : session_(session) {
  refresh(true);
}

bool SettingsController::refresh(bool force) {
  std::uint64_t count = 0;
  try {
    count = session_.changeCount();
  } catch (...) {
    return false;
  }
  if (!force && seenChangeCount_ && *seenChangeCount_ == count) return false;
  seenChangeCount_ = count;
  SettingsPage page;
  Step step{version_ + 1, version_, std::nullopt};
  try {
    page = session_.currentPage(kFirstScreenRows);
    const auto kept = std::find_if(below_.begin(), below_.end(), [&page](const Kept& kept) {
      return kept.page.depth == page.depth && samePage(kept.page, page);
    });
    if (hasPage_ && samePage(page_, page)) {
      // A change of the page shown is sent as changes, which need every row of both
      // versions; rows of the last one not read yet are gone, and it goes out whole.
      if (page_.isComplete()) {
        readRest(page);
        // The version stands for what the person sees, so the page's content decides, not
        // the count.
        if (showsSame(page, page_)) return false;
        step.changes = pageChangesJson(page_, page, step.version);
      }
    } else if (kept != below_.end()) {
      // Back on a page kept: the browser that kept it too needs only what changed since.
      readRest(page);
      step.base = kept->version;
      step.changes = pageChangesJson(kept->page, page, step.version);
    }
  } catch (...) {
    return false;
  }
  std::lock_guard lock(published_);
  if (hasPage_ && !samePage(page_, page)) {
    std::erase_if(below_, [&](const Kept& kept) {
      return kept.page.depth >= std::min(page.depth, page_.depth);
    });
    if (page.depth > page_.depth && page_.isComplete()) {
      below_.push_back({version_, std::move(page_)});
    }
  }
  version_ = step.version;
  if (!step.changes || step.base + 1 != step.version) pageSince_ = step.version;
  page_ = std::move(page);
  hasPage_ = true;
  pageMessage_.clear();
  wholePageMessage_.clear();
  steps_.push_back(std::move(step));
  if (steps_.size() > kKeptSteps) steps_.pop_front();
  return true;
}

void SettingsController::readRest(SettingsPage& page) {
  for (std::size_t s = 0; s < page.sections.size(); ++s) {
    SettingsSection& section = page.sections[s];
    if (section.unreadRows == 0) continue;
    std::vector<SettingsRow> rows = session_.pageRows(s, section.rows.size(), section.unreadRows);
    // A row the page could not give shows empty, as an unreadable cell does: the count was
    // sent already.
    rows.resize(section.unreadRows);
    section.rows.insert(section.rows.end(), std::make_move_iterator(rows.begin()),
                        std::make_move_iterator(rows.end()));
    section.unreadRows = 0;
  }
}

void SettingsController::ensureRows(std::size_t section, std::size_t end) {
  SettingsSection& shown = page_.sections[section];
  end = std::min(end, shown.rowCount());
  if (end <= shown.rows.size()) return;
  std::vector<SettingsRow> rows =
      session_.pageRows(section, shown.rows.size(), end - shown.rows.size());
  rows.resize(end - shown.rows.size());
  std::lock_guard lock(published_);
  shown.unreadRows -= rows.size();
  shown.rows.insert(shown.rows.end(), std::make_move_iterator(rows.begin()),
                    std::make_move_iterator(rows.end()));
}

void SettingsController::completePage() {
  try {
    for (std::size_t s = 0; s < page_.sections.size(); ++s) {
      ensureRows(s, page_.sections[s].rowCount());
    }
  } catch (...) {
    // Left as it is; the browser's range requests read the rest.
  }
}

std::string SettingsController::wholePageNow() {
  refresh();
  completePage();
  return wholePageMessage().value_or(pageMessage());
}

bool SettingsController::hasUnseenChanges() {
  try {
    return !seenChangeCount_ || session_.changeCount() != *seenChangeCount_;
  } catch (...) {
    return false;
  }
}

std::uint64_t SettingsController::version() const {
  std::lock_guard lock(published_);
  return version_;
}

std::string SettingsController::pageMessage() {
  std::lock_guard lock(published_);
  return pageMessageLocked();
}

const std::string& SettingsController::pageMessageLocked() {
  if (pageMessage_.empty()) {
    pageMessage_ += "{\"type\":\"page\",\"version\":" + std::to_string(version_) + ",\"page\":";
    appendPageJson(pageMessage_, page_, version_, kFirstScreenRows);
    pageMessage_ += '}';
  }
  return pageMessage_;
}

std::optional<std::string> SettingsController::wholePageMessage() {
  std::lock_guard lock(published_);
  if (!page_.isComplete()) return std::nullopt;
  if (wholePageMessage_.empty()) {
    // Built in place, in the buffer of the last one: a page of thousands of rows is a large
    // message, and a fresh buffer for each costs as much again.
    wholePageMessage_ +=
        "{\"type\":\"page\",\"version\":" + std::to_string(version_) + ",\"page\":";
    appendPageJson(wholePageMessage_, page_, version_);
    wholePageMessage_ += '}';
  }
  return wholePageMessage_;
}

std::optional<std::string> SettingsController::changesFrom(std::uint64_t seen) const {
  if (seen > version_) return std::nullopt;
  // Back from the current version to `seen`, each step a change of the version it started
  // from, every one of them still kept.
  std::vector<const Step*> path;
  std::uint64_t at = version_;
  std::size_t bytes = 0;
  while (at > seen) {
    auto step = std::find_if(steps_.rbegin(), steps_.rend(),
                             [at](const Step& kept) { return kept.version == at; });
    if (step == steps_.rend() || !step->changes) return std::nullopt;
    bytes += step->changes->size() + 1;
    if (bytes > kMaxDeltaBytes) return std::nullopt;
    path.push_back(&*step);
    at = step->base;
  }
  if (at != seen) return std::nullopt;
  std::string changes;
  for (auto step = path.rbegin(); step != path.rend(); ++step) {
    if ((*step)->changes->empty()) continue;
    if (!changes.empty()) changes += ',';
    changes += *(*step)->changes;
  }
  return "\"from\":" + std::to_string(seen) + ",\"version\":" + std::to_string(version_) +
         ",\"changes\":[" + changes + "]";
}

SettingsController::Update SettingsController::updateFor(std::uint64_t seen) {
  std::lock_guard lock(published_);
  if (auto changes = changesFrom(seen)) {
    return {"{\"type\":\"delta\"," + *changes + "}", version_};
  }
  return {pageMessageLocked(), version_};
}

SettingsController::Reply SettingsController::reply(const ActionResult& result,
                                                    const std::optional<std::uint64_t>& seen) {
  std::lock_guard lock(published_);
  std::string body =
      openMessage(result.replyTo, result.status == 200 ? result.notice : std::string());
  if (!result.rows.empty()) {
    // Rows bring the browser to no version: it holds theirs already.
    body += result.rows;
    body += '}';
    return {result.status, std::move(body), 0};
  }
  const std::optional<std::uint64_t> from = result.from ? result.from : seen;
  std::optional<std::string> changes;
  if (from) changes = changesFrom(*from);
  if (result.status == 200) {
    if (changes) {
      body += "\"type\":\"delta\",";
      body += *changes;
      body += '}';
    } else {
      const std::string& page = pageMessageLocked();
      body.reserve(body.size() + page.size());
      body.append(page, 1);
    }
  } else {
    body += "\"type\":\"error\",\"status\":" + std::to_string(result.status) + ",\"reason\":";
    appendJsonString(body, result.reason);
    body += ',';
    if (changes) {
      body += *changes;
    } else {
      // The page message is {"type":"page",...}: its fields after the type follow.
      const std::string& page = pageMessageLocked();
      body.append(page, page.find(",\"version\"") + 1);
      body.pop_back();
    }
    body += '}';
  }
  return {result.status, std::move(body), version_};
}

SettingsController::ActionResult SettingsController::perform(std::string_view text) {
  // Whatever the page's code makes of a failed write, the store's own report decides what the
  // person is told; the page shows what its getters read back, which is what is stored.
  platform::WriteOutcomeRecorder writes;
  ActionResult result = performNow(text);
  if (result.status != 200 || !writes.reported()) return result;
  switch (writes.worst()) {
    case platform::WriteOutcome::Stored:
      break;
    case platform::WriteOutcome::NotStored:
      result.status = 400;
      result.reason = kNotStoredReason;
      break;
    case platform::WriteOutcome::NotDurable:
    case platform::WriteOutcome::NotAnnounced:
      result.notice = platform::describeOutcome(writes.worst());
      break;
  }
  return result;
}

SettingsController::ActionResult SettingsController::performNow(std::string_view text) {
  const auto refuse = [](int status, std::string reason,
                         const std::optional<std::int64_t>& replyTo) {
    return ActionResult{status, std::move(reason), {}, replyTo, {}, {}};
  };
  if (text.size() > kMaxActionBytes) {
    return refuse(400, "action larger than " + std::to_string(kMaxActionBytes) + " bytes",
                  std::nullopt);
  }
  std::optional<Value> parsed = platform::parseJson(text);
  if (!parsed) return refuse(400, "action is not valid JSON", std::nullopt);
  if (!parsed->isDictionary()) return refuse(400, "action must be a JSON object", std::nullopt);
  const Value& message = *parsed;

  std::optional<std::int64_t> replyTo;
  if (!message["id"].isNone()) {
    replyTo = integerField(message["id"]);
    if (!replyTo) return refuse(400, "\"id\" must be an integer", std::nullopt);
  }
  const Value& actionValue = message["action"];
  if (!actionValue.isString()) return refuse(400, "missing \"action\"", replyTo);
  const std::string& action = actionValue.stringValue();
  if (action != "select" && action != "setSwitch" && action != "back" && action != "rows") {
    return refuse(400, "unknown action \"" + platform::toValidUtf8(action.substr(0, 64)) + "\"",
                  replyTo);
  }

  // Changes that arrived since the last dispatch count before the action is judged.
  refresh();
  if (action == "rows") return rowsNow(message, replyTo);

  Outcome outcome;
  try {
    if (action == "back") {
      if (!page_.canGoBack) return refuse(400, "there is no page to go back to", replyTo);
      outcome = session_.goBack();
      // The browser kept that version of the page below: the answer starts from it.
      if (auto below = integerField(message["below"]); below && *below >= 0) {
        refresh(true);
        if (outcome) return refuse(400, *outcome, replyTo);
        return {200, {}, {}, replyTo, static_cast<std::uint64_t>(*below), {}};
      }
    } else {
      const Value& versionValue = message["version"];
      std::optional<std::int64_t> version = integerField(versionValue);
      if (versionValue.isNone()) return refuse(400, "missing \"version\"", replyTo);
      if (!version) return refuse(400, "\"version\" must be an integer", replyTo);
      std::optional<std::int64_t> section = integerField(message["section"]);
      std::optional<std::int64_t> row = integerField(message["row"]);
      if (!section || !row) {
        return refuse(400, "\"section\" and \"row\" must be integers", replyTo);
      }
      if (*section >= 0 && static_cast<std::uint64_t>(*section) < page_.sections.size() &&
          *row >= 0) {
        ensureRows(static_cast<std::size_t>(*section), static_cast<std::size_t>(*row) + 1);
      }
      if (*version != static_cast<std::int64_t>(version_)) {
        // The row may have moved to where this snapshot has not read yet.
        completePage();
        auto place = placeNow(message["target"], *version, *section, *row);
        if (auto* why = std::get_if<std::string>(&place)) return refuse(409, *why, replyTo);
        section = static_cast<std::int64_t>(std::get<Place>(place).section);
        row = static_cast<std::int64_t>(std::get<Place>(place).row);
      }
      if (*section < 0 || static_cast<std::uint64_t>(*section) >= page_.sections.size()) {
        return refuse(400, "no section " + std::to_string(*section) + " on this page", replyTo);
      }
      const SettingsSection& shown = page_.sections[static_cast<std::size_t>(*section)];
      if (*row < 0 || static_cast<std::uint64_t>(*row) >= shown.rows.size()) {
        return refuse(400,
                      "no row " + std::to_string(*row) + " in section " + std::to_string(*section),
                      replyTo);
      }
      const SettingsRow& target = shown.rows[static_cast<std::size_t>(*row)];
      const auto s = static_cast<std::size_t>(*section);
      const auto r = static_cast<std::size_t>(*row);
      if (action == "select") {
        if (!platform::isSelectableRowKind(target.kind)) {
          return refuse(400, "this row cannot be selected", replyTo);
        }
        if (!target.enabled) return refuse(400, "this row is not enabled", replyTo);
        outcome = session_.selectRow(s, r);
      } else {
        const Value& on = message["on"];
        if (!on.isBoolean()) return refuse(400, "\"on\" must be true or false", replyTo);
        if (target.kind != SettingsRowKind::Switch) {
          return refuse(400, "this row is not a switch", replyTo);
        }
        if (!target.enabled) return refuse(400, "this switch is not enabled", replyTo);
        outcome = session_.setSwitch(s, r, on.booleanValue());
      }
    }
  } catch (const std::exception& error) {
    refresh(true);
    return refuse(500, std::string("the action failed: ") + error.what(), replyTo);
  } catch (...) {
    refresh(true);
    return refuse(500, "the action failed", replyTo);
  }
  refresh(true);
  if (outcome) return refuse(400, *outcome, replyTo);
  return {200, {}, {}, replyTo, {}, {}};
}

SettingsController::ActionResult SettingsController::rowsNow(
    const Value& message, const std::optional<std::int64_t>& replyTo) {
  const auto refuse = [&replyTo](std::string reason) {
    return ActionResult{400, std::move(reason), {}, replyTo, {}, {}};
  };
  const std::optional<std::int64_t> version = integerField(message["version"]);
  if (!version || *version < 0) return refuse("\"version\" must be an integer");
  // An older version's rows are gone: the browser is brought to the current one instead,
  // and asks again.
  if (*version != static_cast<std::int64_t>(version_)) {
    return {200, {}, {}, replyTo, static_cast<std::uint64_t>(*version), {}};
  }
  const std::optional<std::int64_t> section = integerField(message["section"]);
  const std::optional<std::int64_t> at = integerField(message["at"]);
  const std::optional<std::int64_t> count = integerField(message["count"]);
  if (!section || !at || !count) {
    return refuse("\"section\", \"at\" and \"count\" must be integers");
  }
  if (*section < 0 || static_cast<std::uint64_t>(*section) >= page_.sections.size()) {
    return refuse("no section " + std::to_string(*section) + " on this page");
  }
  const auto s = static_cast<std::size_t>(*section);
  const std::size_t total = page_.sections[s].rowCount();
  if (*at < 0 || static_cast<std::uint64_t>(*at) > total || *count < 1) {
    return refuse("no rows from " + std::to_string(*at) + " in section " + std::to_string(s) +
                  ", which has " + std::to_string(total));
  }
  const auto from = static_cast<std::size_t>(*at);
  const std::size_t end =
      from + std::min({static_cast<std::size_t>(*count), kMaxRowsPerRequest, total - from});
  try {
    ensureRows(s, end);
  } catch (...) {
    return {500, "the rows could not be read", {}, replyTo, {}, {}};
  }
  std::string rows = "\"type\":\"rows\",\"version\":" + std::to_string(version_) +
                     ",\"section\":" + std::to_string(s) + ",\"at\":" + std::to_string(from) +
                     ",\"count\":" + std::to_string(total) + ",\"rows\":";
  appendRowsJson(rows, page_.sections[s], from, end - from);
  return {200, {}, {}, replyTo, {}, std::move(rows)};
}

std::variant<SettingsController::Place, std::string> SettingsController::placeNow(
    const Value& target, std::int64_t seen, std::int64_t section, std::int64_t row) const {
  if (seen < static_cast<std::int64_t>(pageSince_) || seen > static_cast<std::int64_t>(version_)) {
    return "Another page is shown now; the tap on the page before was not applied.";
  }
  const auto text = [&target](const char* field) {
    const Value& value = target[field];
    return value.isString() ? value.stringValue() : std::string();
  };
  platform::SettingsRowName name{text("id"), text("title"), imageKeyOfUrl(text("icon"))};
  if (!target.isDictionary() || (name.identifier.empty() && name.title.empty())) {
    return "The page changed before the tap arrived, and the tap did not say which row it "
           "was for; nothing was changed.";
  }
  // The row at the same place wins, then the only one left in the same section: two rows may
  // show the same (two applications of one name), and which of them moved is not known.
  std::vector<Place> found;
  for (std::size_t s = 0; s < page_.sections.size(); ++s) {
    const std::vector<SettingsRow>& rows = page_.sections[s].rows;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (!rowIsNamed(rows[r], name)) continue;
      if (static_cast<std::int64_t>(s) == section && static_cast<std::int64_t>(r) == row) {
        return Place{s, r};
      }
      found.push_back({s, r});
    }
  }
  const std::string quoted = "\u201c" + platform::toValidUtf8(name.title.substr(0, 200)) + "\u201d";
  if (found.empty()) {
    return (name.title.empty() ? "The row you tapped" : quoted) +
           " is no longer on this page; nothing was changed.";
  }
  if (found.size() == 1) return found.front();
  const auto inSection = [section](const Place& place) {
    return static_cast<std::int64_t>(place.section) == section;
  };
  if (std::count_if(found.begin(), found.end(), inSection) == 1) {
    return *std::find_if(found.begin(), found.end(), inSection);
  }
  return "Several rows on this page now match " +
         (name.title.empty() ? std::string("the row you tapped") : quoted) +
         "; nothing was changed. Tap the one you mean again.";
}

std::optional<std::string> SettingsController::imagePng(std::string_view key) {
  if (!isValidImageKey(key)) return std::nullopt;
  try {
    return session_.imagePng(key);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> SettingsController::footerPng(std::size_t section, double width,
                                                         Appearance appearance) {
  if (!std::isfinite(width)) width = 375;
  width = std::clamp(width, 160.0, 1600.0);
  refresh();
  if (section >= page_.sections.size() || !page_.sections[section].footerView) return std::nullopt;
  try {
    return session_.footerPng(section, width, appearance);
  } catch (...) {
    return std::nullopt;
  }
}

bool SettingsController::isValidImageKey(std::string_view key) {
  if (key.empty() || key.size() > 128) return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
  });
}

}  // namespace settingsapp
