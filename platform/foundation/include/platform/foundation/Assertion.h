// Caller errors. A failed check reports the method, the object, the source file name, the
// line and a description to the installed assertion handler. The default handler throws
// InternalInconsistencyException; tests may install one that records and returns.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "platform/foundation/Export.h"

namespace platform {

struct HX_PLATFORM_EXPORT AssertionFailure {
  std::string method;  // e.g. "_setObject:forKey:"
  std::string object;  // a description of the receiver
  std::string file;    // source file name without folders or extension, e.g. "HXPreferences"
  int line = 0;
  std::string description;  // the formatted description
};

// What the default handler throws: NSInternalInconsistencyException.
class HX_PLATFORM_EXPORT InternalInconsistencyException : public std::logic_error {
 public:
  explicit InternalInconsistencyException(AssertionFailure failure);
  const AssertionFailure& failure() const { return failure_; }

 private:
  AssertionFailure failure_;
};

using AssertionHandler = std::function<void(const AssertionFailure&)>;

// Reports a failure to the current handler (handleFailureInMethod:object:file:lineNumber:
// description:). Returns only when the installed handler returns.
HX_PLATFORM_EXPORT void handleFailure(const AssertionFailure& failure);

// Installs `handler` (an empty function restores the default) and returns the previous one.
HX_PLATFORM_EXPORT AssertionHandler setAssertionHandler(AssertionHandler handler);

// Installs a handler for the life of the scope, then restores the previous one.
class HX_PLATFORM_EXPORT ScopedAssertionHandler {
 public:
  explicit ScopedAssertionHandler(AssertionHandler handler);
  ~ScopedAssertionHandler();
  ScopedAssertionHandler(const ScopedAssertionHandler&) = delete;
  ScopedAssertionHandler& operator=(const ScopedAssertionHandler&) = delete;

 private:
  AssertionHandler previous_;
};

}  // namespace platform

// HX_ASSERT(condition, method, object, file, line, description): reports a failure when the
// condition is false. `file` and `line` are the system's own, given explicitly, because callers
// rely on them.
#define HX_ASSERT(condition, method, object, file, line, description)                       \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      ::platform::handleFailure(                                                            \
          ::platform::AssertionFailure{(method), (object), (file), (line), (description)}); \
    }                                                                                       \
  } while (false)
