// What the UI model throws when a person asked for something malformed: a constraint that
// cannot be expressed, or a visual format that does not parse. The message is the
// platform's own wording; format errors also carry the format and the offending position.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

class NSInvalidArgumentException : public std::invalid_argument {
 public:
  static constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

  explicit NSInvalidArgumentException(const std::string& reason)
      : std::invalid_argument(reason), reason_(reason) {}
  // A visual format error: what() reads "Unable to parse constraint format: " followed by the
  // reason, the format and a caret under `position` on three further lines.
  NSInvalidArgumentException(const std::string& reason, std::string format, std::size_t position);

  // The reason alone, without the format and the caret.
  const std::string& reason() const { return reason_; }
  // The format at fault; empty for errors that are not about a format.
  const std::string& format() const { return format_; }
  // The zero-based character position in format() at fault; kNoPosition for other errors.
  std::size_t position() const { return position_; }

 private:
  std::string reason_;
  std::string format_;
  std::size_t position_ = kNoPosition;
};
