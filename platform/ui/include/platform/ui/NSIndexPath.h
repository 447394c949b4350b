// A row's place in a table: section and row, compared section first.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

struct NSIndexPath {
  std::int64_t section = 0;
  std::int64_t row = 0;

  // indexPathForRow:inSection:.
  static constexpr NSIndexPath indexPathForRowInSection(std::int64_t row, std::int64_t section) {
    return NSIndexPath{section, row};
  }
  friend constexpr auto operator<=>(const NSIndexPath&, const NSIndexPath&) = default;
  std::string description() const {
    return "{" + std::to_string(section) + ", " + std::to_string(row) + "}";
  }
};
