#include "platform/foundation/Assertion.h"

namespace platform {
namespace {

AssertionHandler& currentHandler() {
  static AssertionHandler* handler = new AssertionHandler();  // process lifetime
  return *handler;
}

std::string describe(const AssertionFailure& f) {
  return "*** Assertion failure in " + f.method + ", " + f.file + ":" + std::to_string(f.line) +
         ": " + f.description;
}

}  // namespace

InternalInconsistencyException::InternalInconsistencyException(AssertionFailure failure)
    : std::logic_error(describe(failure)), failure_(std::move(failure)) {}

void handleFailure(const AssertionFailure& failure) {
  if (const AssertionHandler& handler = currentHandler()) {
    handler(failure);
    return;
  }
  throw InternalInconsistencyException(failure);
}

AssertionHandler setAssertionHandler(AssertionHandler handler) {
  AssertionHandler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}

ScopedAssertionHandler::ScopedAssertionHandler(AssertionHandler handler)
    : previous_(setAssertionHandler(std::move(handler))) {}

ScopedAssertionHandler::~ScopedAssertionHandler() { setAssertionHandler(std::move(previous_)); }

}  // namespace platform
