#include "Unicode_p.h"

#include "platform/foundation/Utf8.h"

namespace platform {

void appendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    codePoint = kReplacementCharacter;
  }
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

namespace {

std::optional<std::string> decodeUtf16(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(bytes.size());
  auto unitAt = [&](std::size_t index) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(bytes[index]);
    const auto b = static_cast<unsigned char>(bytes[index + 1]);
    return bigEndian ? (static_cast<std::uint32_t>(a) << 8 | b)
                     : (static_cast<std::uint32_t>(b) << 8 | a);
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t unit = unitAt(i);
    if (isHighSurrogate(unit) && i + 3 < bytes.size() && isLowSurrogate(unitAt(i + 2))) {
      unit = combineSurrogates(unit, unitAt(i + 2));
      i += 2;
    }
    appendUtf8(out, unit);  // a lone surrogate comes out as U+FFFD
  }
  return out;
}

}  // namespace

std::optional<std::string> decodeTextToUtf8(std::string_view bytes) {
  auto byteAt = [&](std::size_t index) { return static_cast<unsigned char>(bytes[index]); };
  if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
    bytes.remove_prefix(3);
  } else if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
    return decodeUtf16(bytes.substr(2), false);
  } else if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
    return decodeUtf16(bytes.substr(2), true);
  } else if (bytes.size() >= 2 && bytes.size() % 2 == 0) {
    // Text of this kind starts with ASCII, so a zero byte on one side means UTF-16.
    if (byteAt(0) == 0 && byteAt(1) != 0) return decodeUtf16(bytes, true);
    if (byteAt(0) != 0 && byteAt(1) == 0) return decodeUtf16(bytes, false);
  }
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

}  // namespace platform
