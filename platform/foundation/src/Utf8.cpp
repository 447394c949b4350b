#include "platform/foundation/Utf8.h"

namespace platform {

bool isValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (utf8::nextCodePoint(text, i) == utf8::kInvalid) return false;
  }
  return true;
}

std::string toValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    if (utf8::nextCodePoint(text, i) == utf8::kInvalid) {
      utf8::append(out, utf8::kReplacementCharacter);
    } else {
      out.append(text, start, i - start);
    }
  }
  return out;
}

namespace utf8 {
namespace {

// One loop per byte order, so that reading a unit costs no test of the order.
template <ByteOrder order>
std::string decodeUtf16(std::string_view bytes) {
  const std::size_t count = bytes.size() / 2;
  const auto unitAt = [&](std::size_t index) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[2 * index]);
    const auto second = static_cast<unsigned char>(bytes[2 * index + 1]);
    if constexpr (order == ByteOrder::BigEndian) return char32_t{first} << 8 | second;
    return char32_t{second} << 8 | first;
  };
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t unit = unitAt(i);
    if (unit < 0x80) {
      out += static_cast<char>(unit);
      continue;
    }
    if (isHighSurrogate(unit) && i + 1 < count && isLowSurrogate(unitAt(i + 1))) {
      unit = combineSurrogates(unit, unitAt(i + 1));
      ++i;
    }
    append(out, unit);  // a lone surrogate comes out as U+FFFD
  }
  return out;
}

}  // namespace

std::string fromUtf16(std::string_view bytes, ByteOrder order) {
  return order == ByteOrder::BigEndian ? decodeUtf16<ByteOrder::BigEndian>(bytes)
                                       : decodeUtf16<ByteOrder::LittleEndian>(bytes);
}

}  // namespace utf8
}  // namespace platform
