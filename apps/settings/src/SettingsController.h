// The protocol between the browser and the Settings host, without the network: it turns the
// session's pages into JSON messages, numbers each distinct page with a version, and checks
// and carries out the actions that the page sends. Main thread only.
//
// Messages to the browser:
//   {"type":"page","version":N,"page":{...}}                 the current page
//   {"type":"error","status":S,"reason":"...","version":N,"page":{...}} a refused action
//   (S as in Reply::status), with the current page
//   Either may carry "replyTo" with the "id" of the action it answers.
// Actions from the browser (one JSON object, at most kMaxActionBytes):
//   {"action":"select","section":S,"row":R,"version":N}
//   {"action":"setSwitch","section":S,"row":R,"on":true|false,"version":N}
//   {"action":"back"}
// "version" names the page the person acted on; an action on an older page is refused, since
// its rows may have moved under the person's finger.
// A section's "footerImage" is {"url":...,"height":H,"alt":"..."}: the footer view's URL
// (add "&w=WIDTH", and "&appearance=dark" for the dark drawing), the height it asks for and
// what it shows as text. A row's "searchable" is true for an entry of a list the page built
// itself (an application), which the page's search field filters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PageSnapshot.h"
#include "SettingsSession.h"

namespace settingsapp {

inline constexpr std::size_t kMaxActionBytes = 64 * 1024;

class SettingsController {
 public:
  // `session` must outlive the controller.
  explicit SettingsController(SettingsSession& session);
  SettingsController(const SettingsController&) = delete;
  SettingsController& operator=(const SettingsController&) = delete;

  // Takes a new snapshot when the session's change count moved (or `force`), and gives it a
  // new version when it differs from the last one. Returns true when the version moved.
  // A session that throws keeps the last snapshot.
  bool refresh(bool force = false);

  std::uint64_t version() const { return version_; }
  const PageSnapshot& page() const { return page_; }
  // {"type":"page","version":N,"page":{...}} for the current version.
  const std::string& pageMessage() const { return pageMessage_; }

  struct Reply {
    int status = 200;  // 200 done, 400 malformed or impossible, 409 stale page, 500 failure
    std::string body;  // a page or an error message, as above
  };
  // Parses, checks and performs one action, then refreshes. Never throws.
  Reply handleAction(std::string_view text);

  // The PNG of a row image or of a section's footer view of the current page; none when the
  // key or the section names nothing. `width` is clamped to 160..1600 points. Never throws.
  std::optional<std::string> imagePng(std::string_view key);
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance = Appearance::Light);

  // The URL path of a row image, "/image/KEY.png", and of a footer view,
  // "/footer/SECTION.png?v=VERSION" (the version busts the browser's cache per change).
  static std::string imageUrl(std::string_view key);
  static std::string footerUrl(std::size_t section, std::uint64_t version);
  // True for keys made only of letters, digits, '-' and '_' (1 to 128 of them).
  static bool isValidImageKey(std::string_view key);

 private:
  Reply errorReply(int status, std::string reason, const std::optional<std::int64_t>& replyTo);
  Reply pageReply(const std::optional<std::int64_t>& replyTo);

  SettingsSession& session_;
  std::optional<std::uint64_t> seenChangeCount_;
  std::uint64_t version_ = 0;
  PageSnapshot page_;
  std::string pageJson_;
  std::string pageMessage_;
};

// The JSON of one page, as carried in the messages above. Text is made valid UTF-8 first
// (each invalid byte becomes U+FFFD), since a browser drops a WebSocket that sends invalid
// text.
std::string pageToJson(const PageSnapshot& page, std::uint64_t version);

// `text` with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace settingsapp
