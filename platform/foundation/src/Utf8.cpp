#include "platform/foundation/Utf8.h"

#include "Utf8_p.h"

namespace platform {

bool isValidUtf8(std::string_view text) {
  return utf8::isValid(text);
}

}  // namespace platform
