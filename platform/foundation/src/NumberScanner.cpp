#include "NumberScanner_p.h"

#include <locale.h>

#include <cstdlib>
#include <limits>
#include <string>

#include "platform/foundation/Utf8.h"

namespace platform::scan {
namespace {

locale_t cLocale() {
  // Created once and kept for the process: strtod_l needs it on every call, and the global
  // locale of the program must not change how stored numbers read.
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool isWhitespace(char32_t cp) {
  return cp < 0x21 || (cp >= 0x7F && cp <= 0xA0) || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x3000;
}

std::size_t skipWhitespace(std::string_view text, std::size_t index) {
  while (index < text.size()) {
    std::size_t next = index;
    const char32_t cp = utf8::nextCodePoint(text, next);
    if (cp == utf8::kInvalid || !isWhitespace(cp)) break;
    index = next;
  }
  return index;
}

std::int64_t integerValue(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
  std::size_t i = skipWhitespace(text);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    i = skipWhitespace(text, i + 1);
  }
  // Accumulate the magnitude and stop growing once it passes the limit, so that any number
  // of digits saturates instead of wrapping.
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(-(minimum + 1)) + 1
                                       : static_cast<std::uint64_t>(maximum);
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    if (overflow) continue;
    const auto digit = static_cast<std::uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      overflow = true;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  if (overflow) return negative ? minimum : maximum;
  if (negative) {
    return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
  }
  return static_cast<std::int64_t>(magnitude);
}

double doubleValue(std::string_view text, std::size_t* consumed) {
  if (consumed != nullptr) *consumed = 0;
  const std::size_t start = skipWhitespace(text);
  std::size_t end = start;
  while (end < text.size()) {
    const char c = text[end];
    if (!(isDigit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) break;
    ++end;
  }
  if (end == start) return 0.0;
  // Only the run itself reaches strtod, so "inf", "nan" and hex forms cannot be recognised.
  const std::string run(text.substr(start, end - start));
  char* stop = nullptr;
  const double value = strtod_l(run.c_str(), &stop, cLocale());
  if (stop == run.c_str()) return 0.0;
  if (consumed != nullptr) *consumed = start + static_cast<std::size_t>(stop - run.c_str());
  return value;
}

bool boolValue(std::string_view text) {
  std::size_t i = skipWhitespace(text);
  if (i >= text.size()) return false;
  const char first = text[i];
  if (first == 'Y' || first == 'y' || first == 'T' || first == 't') return true;
  if (first == '+' || first == '-') ++i;
  while (i < text.size() && text[i] == '0') ++i;
  return i < text.size() && text[i] >= '1' && text[i] <= '9';
}

}  // namespace platform::scan
