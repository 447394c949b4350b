// UTF-8 for every layer that takes text from outside (plist files, the bus, strings files, the
// page) or makes it: one decoder and one encoder, so that all of them agree on what is
// well-formed. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/foundation/Export.h"

namespace platform {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no truncated sequence. NUL bytes are well-formed.
HX_PLATFORM_EXPORT bool isValidUtf8(std::string_view text);

// `text` with every byte that is not part of a well-formed sequence replaced by U+FFFD.
HX_PLATFORM_EXPORT std::string toValidUtf8(std::string_view text);

namespace utf8 {

// Code point returned for a malformed sequence; the decoder then advances one byte.
inline constexpr char32_t kInvalid = 0xFFFFFFFF;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the code point at `text[index]` and advances `index` past it. Overlong forms,
// surrogates, values above U+10FFFF and truncated sequences give kInvalid and advance one
// byte. REQUIRES: index < text.size(). Inline: string comparison and the plist readers and
// writers call it once per character.
inline char32_t nextCodePoint(std::string_view text, std::size_t& index) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(index);
  if (lead < 0x80) {
    ++index;
    return lead;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++index;
    return kInvalid;
  }
  if (index + length > text.size()) {
    ++index;
    return kInvalid;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char c = byte(index + i);
    if ((c & 0xC0) != 0x80) {
      ++index;
      return kInvalid;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++index;
    return kInvalid;
  }
  index += length;
  return cp;
}

// Appends the UTF-8 form of `cp`; a surrogate or a value past U+10FFFF appends U+FFFD, so the
// result is always well-formed.
inline void append(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementCharacter;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

inline bool isHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool isLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}
inline char32_t combineSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

enum class ByteOrder { BigEndian, LittleEndian };

// UTF-16 text, two bytes a unit in `order`, as UTF-8. A surrogate without its partner becomes
// U+FFFD; a last odd byte is ignored.
HX_PLATFORM_EXPORT std::string fromUtf16(std::string_view bytes, ByteOrder order);

}  // namespace utf8
}  // namespace platform
