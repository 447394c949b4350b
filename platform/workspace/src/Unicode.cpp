#include "Unicode_p.h"

#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

std::optional<std::string> decodeUtf16(std::string_view bytes, utf8::ByteOrder order) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  return utf8::fromUtf16(bytes, order);
}

}  // namespace

std::optional<std::string> decodeTextToUtf8(std::string_view bytes) {
  using enum utf8::ByteOrder;
  auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(bytes[index]); };
  if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
    return decodeUtf16(bytes.substr(2), LittleEndian);
  } else if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
    return decodeUtf16(bytes.substr(2), BigEndian);
  } else if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
    // Text of this kind starts with ASCII, so a zero byte on one side means UTF-16.
    if (byteAt(0) == 0 && byteAt(1) != 0) return decodeUtf16(bytes, BigEndian);
    if (byteAt(0) != 0 && byteAt(1) == 0) return decodeUtf16(bytes, LittleEndian);
  }
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

}  // namespace platform
