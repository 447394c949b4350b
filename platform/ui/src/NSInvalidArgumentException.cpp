#include "platform/ui/NSInvalidArgumentException.h"

namespace {

std::string formatMessage(const std::string& reason, const std::string& format,
                          std::size_t position) {
  std::string caret(position, ' ');
  caret += '^';
  return "Unable to parse constraint format: \n" + reason + " \n" + format + " \n" + caret;
}

}  // namespace

NSInvalidArgumentException::NSInvalidArgumentException(const std::string& reason,
                                                       std::string format, std::size_t position)
    : std::invalid_argument(formatMessage(reason, format, position)),
      reason_(reason),
      format_(std::move(format)),
      position_(position) {}
