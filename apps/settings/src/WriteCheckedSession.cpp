#include "WriteCheckedSession.h"

namespace settingsapp {

WriteCheckedSession::WriteCheckedSession(SettingsSession& inner, FailedWriteCount failedWriteCount)
    : inner_(inner), failedWriteCount_(std::move(failedWriteCount)) {}

Outcome WriteCheckedSession::checked(Outcome outcome, std::uint64_t failedBefore) const {
  if (!outcome && failedWriteCount_ && failedWriteCount_() != failedBefore) {
    return kNotStoredReason;
  }
  return outcome;
}

Outcome WriteCheckedSession::selectRow(std::size_t section, std::size_t row) {
  const std::uint64_t failedBefore = failedWriteCount_ ? failedWriteCount_() : 0;
  return checked(inner_.selectRow(section, row), failedBefore);
}

Outcome WriteCheckedSession::setSwitch(std::size_t section, std::size_t row, bool on) {
  const std::uint64_t failedBefore = failedWriteCount_ ? failedWriteCount_() : 0;
  return checked(inner_.setSwitch(section, row, on), failedBefore);
}

}  // namespace settingsapp
