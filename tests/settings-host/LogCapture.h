// Collects the log lines written while it lives, instead of printing them.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Log.h"

class LogCapture {
 public:
  LogCapture() {
    previous_ = platform::setLogSink([this](std::string_view line) { lines_.emplace_back(line); });
  }
  ~LogCapture() { platform::setLogSink(previous_); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  void clear() { lines_.clear(); }
  // Lines that contain `text`.
  std::size_t count(std::string_view text) const {
    return static_cast<std::size_t>(std::count_if(
        lines_.begin(), lines_.end(),
        [&](const std::string& line) { return line.find(text) != std::string::npos; }));
  }
  // Lines starting with "sample: ", without that prefix, in order.
  std::vector<std::string> sampleEvents() const {
    std::vector<std::string> events;
    for (const std::string& line : lines_) {
      if (line.rfind("sample: ", 0) == 0) events.push_back(line.substr(8));
    }
    return events;
  }

 private:
  platform::LogSink previous_;
  std::vector<std::string> lines_;
};
