// Case-insensitive ordering as the platform's caseInsensitiveCompare: answers (no locale), and
// binary search of a sorted array with such a comparator. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Export.h"

namespace platform {

enum class ComparisonResult { Ascending = -1, Same = 0, Descending = 1 };

// Orders `a` against `b` ignoring case: ASCII letters fold to lower case; other characters
// are canonically decomposed (é to e + U+0301) and fully case-folded (ß to ss), with tables
// covering Latin, Greek and Cyrillic; then code points compare in order, a proper prefix
// first. No Turkish casing (U+0130 folds to i + U+0307, U+0131 stays). Equal after folding is
// Same. A byte that is not valid UTF-8 compares as a code point of its own above U+10FFFF.
HX_PLATFORM_EXPORT ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b);

// The code points caseInsensitiveCompare() compares `text` by: two keys compare as their texts
// do, so a long list is sorted by folding each item once rather than at every comparison.
HX_PLATFORM_EXPORT std::u32string caseInsensitiveKey(std::string_view text);

// The index at which `item` would be inserted into `sorted` to keep it ordered by `compare`
// (a callable answering ComparisonResult for (element, item)): the first element that is not
// Ascending against `item`, so among equal elements the first; `sorted.size()` when every
// element sorts before it. REQUIRES: `sorted` is ordered by `compare`.
template <typename T, typename Compare>
std::size_t insertionIndex(const std::vector<T>& sorted, const T& item, Compare compare) {
  std::size_t low = 0;
  std::size_t high = sorted.size();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (compare(sorted[middle], item) == ComparisonResult::Ascending) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace platform
