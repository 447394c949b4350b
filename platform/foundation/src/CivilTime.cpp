#include "CivilTime_p.h"

#include <cmath>
#include <cstdio>

namespace platform::civil {
namespace {

// Days from 1970-01-01 to a civil date, and back (H. Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

int daysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

constexpr std::int64_t kDaysFrom1970To2001 = 11323;

}  // namespace

std::optional<std::int64_t> secondsSince2001(const DateTime& t) {
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month) ||
      t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59 ||
      t.year < -1000000 || t.year > 1000000) {
    return std::nullopt;
  }
  const std::int64_t days = daysFromCivil(t.year, t.month, t.day) - kDaysFrom1970To2001;
  return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

DateTime dateTimeOf(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  DateTime t;
  civilFromDays(days + kDaysFrom1970To2001, t.year, t.month, t.day);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

std::optional<std::int64_t> parseIso8601(std::string_view text) {
  // YYYY-MM-DDThh:mm:ssZ: 20 characters with separators at fixed places.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  bool ok = true;
  auto number = [&](std::size_t at, std::size_t length) {
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
      if (text[i] < '0' || text[i] > '9') ok = false;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  DateTime t;
  t.year = number(0, 4);
  t.month = number(5, 2);
  t.day = number(8, 2);
  t.hour = number(11, 2);
  t.minute = number(14, 2);
  t.second = number(17, 2);
  if (!ok) return std::nullopt;
  return secondsSince2001(t);
}

std::optional<std::string> formatIso8601(double secondsSince2001) {
  if (!std::isfinite(secondsSince2001) || std::fabs(secondsSince2001) > 1e12) return std::nullopt;
  const DateTime t = dateTimeOf(static_cast<std::int64_t>(std::floor(secondsSince2001)));
  if (t.year < 0 || t.year > 9999) return std::nullopt;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(t.year),
                t.month, t.day, t.hour, t.minute, t.second);
  return std::string(buffer);
}

}  // namespace platform::civil
