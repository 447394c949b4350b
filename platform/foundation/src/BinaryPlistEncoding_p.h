// The integer encodings of "bplist00" that the builder and the root rewrite both write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::bplist {

// The fewest of 1, 2, 4 or 8 bytes that hold `value`.
inline std::size_t bytesFor(std::uint64_t value) {
  if (value <= 0xFF) return 1;
  if (value <= 0xFFFF) return 2;
  if (value <= 0xFFFFFFFFu) return 4;
  return 8;
}

inline void appendBigEndian(std::string& out, std::uint64_t value, std::size_t size) {
  for (std::size_t i = size; i-- > 0;) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline void appendUnsigned(std::string& out, std::uint64_t value) {
  const std::size_t size = bytesFor(value);
  const std::uint8_t widths[] = {0, 0, 1, 0, 2, 0, 0, 0, 3};
  out += static_cast<char>(0x10 | widths[size]);
  appendBigEndian(out, value, size);
}

// A marker of `type` for `count` items: in its low nibble, or as an integer after it.
inline void appendMarker(std::string& out, std::uint8_t type, std::uint64_t count) {
  if (count < 15) {
    out += static_cast<char>(type | count);
    return;
  }
  out += static_cast<char>(type | 0x0F);
  appendUnsigned(out, count);
}

}  // namespace platform::bplist
