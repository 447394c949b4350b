// The lenient scanners behind a string's intValue, integerValue, doubleValue and boolValue,
// which follow the platform's string scanner: its whitespace set, saturation on overflow and
// a C-locale real parse of the longest run of number characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::scan {

// The platform's whitespace: below U+0021, U+007F-U+00A0, U+2000-U+200B and U+3000.
bool isWhitespace(char32_t codePoint);
// The index of the first character at or after `index` that is not whitespace.
std::size_t skipWhitespace(std::string_view text, std::size_t index = 0);

// Whitespace, one optional sign, whitespace, then decimal digits up to the first non-digit.
// No digits gives 0; overflow saturates to `minimum`/`maximum`.
std::int64_t integerValue(std::string_view text, std::int64_t minimum, std::int64_t maximum);

// Whitespace, then the longest run of "+-.0-9eE" parsed by strtod in the C locale; 0 when
// nothing parses, ±inf on overflow. `consumed`, when given, receives how many bytes of `text`
// (whitespace included) the parse used; 0 when nothing parsed.
double doubleValue(std::string_view text, std::size_t* consumed = nullptr);

// Whitespace, then Y/y/T/t gives true; otherwise one optional sign, any zeros, and true
// exactly when a digit 1-9 follows.
bool boolValue(std::string_view text);

}  // namespace platform::scan
