#include "platform/foundation/DateText.h"

#include <cstddef>
#include <cstdint>

#include "CivilTime_p.h"

namespace platform {
namespace {

// Exactly `count` decimal digits at `at`; none when any is missing.
std::optional<int> digitsAt(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int number = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    number = number * 10 + (text[i] - '0');
  }
  return number;
}

// "YYYY-MM-DD hh:mm:ss +hhmm": 25 characters with separators at fixed places.
std::optional<std::int64_t> parseWithOffset(std::string_view text) {
  if (text.size() != 25 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != ' ' || (text[20] != '+' && text[20] != '-')) {
    return std::nullopt;
  }
  const auto year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2),
             hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2),
             second = digitsAt(text, 17, 2), offsetHours = digitsAt(text, 21, 2),
             offsetMinutes = digitsAt(text, 23, 2);
  if (!year || !month || !day || !hour || !minute || !second || !offsetHours || !offsetMinutes ||
      *offsetHours > 23 || *offsetMinutes > 59) {
    return std::nullopt;
  }
  const auto local = civil::secondsSince2001({*year, *month, *day, *hour, *minute, *second});
  if (!local) return std::nullopt;
  const int sign = text[20] == '+' ? 1 : -1;
  return *local - sign * (std::int64_t{*offsetHours} * 3600 + *offsetMinutes * 60);
}

}  // namespace

std::optional<Value> parseDate(std::string_view text) {
  auto seconds = civil::parseIso8601(text);
  if (!seconds) seconds = parseWithOffset(text);
  if (!seconds) return std::nullopt;
  return Value::date(static_cast<double>(*seconds));
}

}  // namespace platform
