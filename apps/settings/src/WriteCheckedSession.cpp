#include "WriteCheckedSession.h"

namespace settingsapp {

WriteCheckedSession::WriteCheckedSession(SettingsSession& inner, LastWriteStored lastWriteStored)
    : inner_(inner), lastWriteStored_(std::move(lastWriteStored)) {}

Outcome WriteCheckedSession::selectRow(std::size_t section, std::size_t row) {
  const bool storedBefore = !lastWriteStored_ || lastWriteStored_();
  Outcome outcome = inner_.selectRow(section, row);
  if (!outcome && storedBefore && lastWriteStored_ && !lastWriteStored_()) {
    return kNotStoredReason;
  }
  return outcome;
}

Outcome WriteCheckedSession::setSwitch(std::size_t section, std::size_t row, bool on) {
  Outcome outcome = inner_.setSwitch(section, row, on);
  if (!outcome && lastWriteStored_ && !lastWriteStored_()) return kNotStoredReason;
  return outcome;
}

}  // namespace settingsapp
