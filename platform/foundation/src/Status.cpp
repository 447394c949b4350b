#include "platform/foundation/Status.h"

#include <cerrno>
#include <cstring>

namespace platform {

Status Status::fromErrno(int error, const std::string& context) {
  std::string message = context + ": " + std::strerror(error);
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return notFound(std::move(message));
    case EWOULDBLOCK:
      return busy(std::move(message));
    default:
      return ioError(std::move(message));
  }
}

std::string Status::toString() const {
  switch (code_) {
    case Code::Ok: return "OK";
    case Code::NotFound: return "Not found: " + message_;
    case Code::IOError: return "I/O error: " + message_;
    case Code::Corruption: return "Corruption: " + message_;
    case Code::InvalidArgument: return "Invalid argument: " + message_;
    case Code::Busy: return "Busy: " + message_;
    case Code::NotSupported: return "Not supported: " + message_;
  }
  return message_;
}

}  // namespace platform
