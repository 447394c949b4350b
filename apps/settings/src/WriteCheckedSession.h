// A session that says so when a change a person made was not stored. It forwards every call
// to another session and, after a switch or a tap, asks whether the preference write it
// caused was stored; when not, the operation is refused with a reason a person can read,
// while the page (read again by the caller) shows what the store really holds.
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "SettingsSession.h"

namespace settingsapp {

// How many preference writes of this process have stored nothing so far.
using FailedWriteCount = std::function<std::uint64_t()>;

// The reason given for a change that was not stored.
inline constexpr const char* kNotStoredReason =
    "The change could not be saved. The page shows what is stored.";

class WriteCheckedSession : public SettingsSession {
 public:
  // `inner` must outlive this session. An empty `failedWriteCount` checks nothing.
  WriteCheckedSession(SettingsSession& inner, FailedWriteCount failedWriteCount);

  PageSnapshot currentPage() override { return inner_.currentPage(); }
  std::uint64_t changeCount() override { return inner_.changeCount(); }
  // A switch or a tap is refused when a write made during it stored nothing; a tap that
  // stores nothing (a link opens a page) is never blamed for an earlier failure.
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
  Outcome checked(Outcome outcome, std::uint64_t failedBefore) const;

  SettingsSession& inner_;
  const FailedWriteCount failedWriteCount_;
};

}  // namespace settingsapp
