// UTF-8 and UTF-16 helpers for the files that bundles carry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

inline bool isHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline std::uint32_t combineSurrogates(std::uint32_t high, std::uint32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// Appends the UTF-8 form of `codePoint`; surrogates and values past U+10FFFF become U+FFFD.
void appendUtf8(std::string& out, std::uint32_t codePoint);

// Decodes text whose encoding a byte-order mark or the zero bytes of UTF-16 reveal: UTF-8
// (mark dropped), UTF-16 LE or BE (with a mark, or without one when zero bytes fall only on
// one side of the units). None for malformed UTF-8 or an odd number of UTF-16 bytes; lone
// UTF-16 surrogates become U+FFFD.
std::optional<std::string> decodeTextToUtf8(std::string_view bytes);

}  // namespace platform
