// UTF-8 decoding shared by the string scanners, the comparison and the plist writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::utf8 {

// Code point returned for a malformed sequence; the decoder then advances one byte.
inline constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the code point at `text[index]` and advances `index` past it. Overlong forms,
// surrogates, values above U+10FFFF and truncated sequences give kInvalid and advance one byte.
inline char32_t next(std::string_view text, std::size_t& index) {
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

inline bool isValid(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    if (next(text, i) == kInvalid) return false;
  }
  return true;
}

inline void append(std::string& out, char32_t cp) {
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

}  // namespace platform::utf8
