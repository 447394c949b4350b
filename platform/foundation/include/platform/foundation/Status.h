// The result of a fallible platform operation: OK, or a code with a message that names the
// path or input at fault. Inside the platform only; the libraries' public API has no error codes.
#pragma once

#include <string>
#include <utility>

#include "platform/foundation/Export.h"

namespace platform {

class HX_PLATFORM_EXPORT Status {
 public:
  enum class Code { Ok, NotFound, IOError, Corruption, InvalidArgument, Busy, NotSupported };

  Status() = default;
  static Status ok() { return Status(); }
  static Status notFound(std::string message) { return Status(Code::NotFound, std::move(message)); }
  static Status ioError(std::string message) { return Status(Code::IOError, std::move(message)); }
  static Status corruption(std::string message) {
    return Status(Code::Corruption, std::move(message));
  }
  static Status invalidArgument(std::string message) {
    return Status(Code::InvalidArgument, std::move(message));
  }
  static Status busy(std::string message) { return Status(Code::Busy, std::move(message)); }
  static Status notSupported(std::string message) {
    return Status(Code::NotSupported, std::move(message));
  }
  // Maps errno to a status: ENOENT and ENOTDIR are NotFound, EWOULDBLOCK is Busy, everything
  // else IOError; the message names `context` (usually the path) and the error text.
  static Status fromErrno(int error, const std::string& context);

  bool isOk() const { return code_ == Code::Ok; }
  bool isNotFound() const { return code_ == Code::NotFound; }
  bool isBusy() const { return code_ == Code::Busy; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string toString() const;

 private:
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}
  Code code_ = Code::Ok;
  std::string message_;
};

}  // namespace platform
