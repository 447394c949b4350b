// A session that says so when a change a person made was not stored. It forwards every call
// to another session and, after a switch or a tap, asks whether the preference write it
// caused was stored; when not, the operation is refused with a reason a person can read,
// while the page (read again by the caller) shows what the store really holds.
// Main thread only.
#pragma once

#include <functional>

#include "SettingsSession.h"

namespace settingsapp {

// True when the last preference write of this process was stored (and before any write).
using LastWriteStored = std::function<bool()>;

// The reason given for a change that was not stored.
inline constexpr const char* kNotStoredReason =
    "The change could not be saved. The page shows what is stored.";

class WriteCheckedSession : public SettingsSession {
 public:
  // `inner` must outlive this session. An empty `lastWriteStored` checks nothing.
  WriteCheckedSession(SettingsSession& inner, LastWriteStored lastWriteStored);

  PageSnapshot currentPage() override { return inner_.currentPage(); }
  std::uint64_t changeCount() override { return inner_.changeCount(); }
  // Every switch stores its value, so a write that was not stored after it is its own. A tap
  // may store nothing (a link opens a page), so it counts as failed only when the status
  // turned from stored to not stored during the tap.
  Outcome selectRow(std::size_t section, std::size_t row) override;
  Outcome setSwitch(std::size_t section, std::size_t row, bool on) override;
  Outcome goBack() override { return inner_.goBack(); }
  std::optional<std::string> imagePng(std::string_view key) override {
    return inner_.imagePng(key);
  }
  std::optional<std::string> footerPng(std::size_t section, double width,
                                       Appearance appearance) override {
    return inner_.footerPng(section, width, appearance);
  }

 private:
  SettingsSession& inner_;
  const LastWriteStored lastWriteStored_;
};

}  // namespace settingsapp
