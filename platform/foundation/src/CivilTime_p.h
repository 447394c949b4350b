// Calendar arithmetic for dates kept as seconds since 2001-01-01T00:00:00Z (proleptic
// Gregorian, UTC, no leap seconds), shared by the plist and JSON formats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::civil {

inline constexpr double kSecondsFrom1970To2001 = 978307200.0;

struct DateTime {
  std::int64_t year = 2001;
  int month = 1;  // 1-12
  int day = 1;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Whole seconds since 2001 of a calendar time; none when a field is out of range.
std::optional<std::int64_t> secondsSince2001(const DateTime& time);
// The calendar time of the whole second at or before `seconds` (floor).
DateTime dateTimeOf(std::int64_t seconds);

// "YYYY-MM-DDThh:mm:ssZ" exactly (four-digit year); none otherwise.
std::optional<std::int64_t> parseIso8601(std::string_view text);
// Formats the whole second at or before `secondsSince2001` as "YYYY-MM-DDThh:mm:ssZ"; none
// when the year falls outside 0-9999 or the value is not finite.
std::optional<std::string> formatIso8601(double secondsSince2001);

}  // namespace platform::civil
