#include "platform/foundation/StringCompare.h"

#include <algorithm>

#include "CaseFoldTable_p.h"
#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

// Code points of a string after decomposition and folding, produced one at a time so that
// comparing two strings allocates nothing and stops at the first difference.
class FoldedCodePoints {
 public:
  explicit FoldedCodePoints(std::string_view text) : text_(text) {}

  // False at the end of the text.
  bool next(char32_t& out) {
    if (pendingIndex_ < pendingLength_) {
      out = pending_[pendingIndex_++];
      return true;
    }
    if (position_ >= text_.size()) return false;
    const unsigned char byte = static_cast<unsigned char>(text_[position_]);
    if (byte < 0x80) {
      ++position_;
      out = byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte;
      return true;
    }
    const std::size_t start = position_;
    const char32_t cp = utf8::nextCodePoint(text_, position_);
    if (cp == utf8::kInvalid) {
      // Above every code point, and distinct per byte value.
      out = 0x110000 + static_cast<unsigned char>(text_[start]);
      return true;
    }
    const auto* end = std::end(casefold::kTable);
    const auto* entry = std::lower_bound(
        std::begin(casefold::kTable), end, cp,
        [](const casefold::Entry& e, char32_t value) { return e.codePoint < value; });
    if (entry == end || entry->codePoint != cp) {
      out = cp;
      return true;
    }
    pendingLength_ = entry->length;
    std::copy(entry->mapped, entry->mapped + entry->length, pending_);
    pendingIndex_ = 1;
    out = pending_[0];
    return true;
  }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
  char32_t pending_[casefold::kMaximumExpansion] = {};
  int pendingLength_ = 0;
  int pendingIndex_ = 0;
};

}  // namespace

ComparisonResult caseInsensitiveCompare(std::string_view a, std::string_view b) {
  FoldedCodePoints left(a);
  FoldedCodePoints right(b);
  while (true) {
    char32_t l = 0;
    char32_t r = 0;
    const bool hasLeft = left.next(l);
    const bool hasRight = right.next(r);
    if (!hasLeft || !hasRight) {
      if (hasLeft == hasRight) return ComparisonResult::Same;
      return hasLeft ? ComparisonResult::Descending : ComparisonResult::Ascending;
    }
    if (l != r) return l < r ? ComparisonResult::Ascending : ComparisonResult::Descending;
  }
}

std::u32string caseInsensitiveKey(std::string_view text) {
  std::u32string key;
  key.reserve(text.size());
  FoldedCodePoints folded(text);
  for (char32_t codePoint = 0; folded.next(codePoint);) key.push_back(codePoint);
  return key;
}

}  // namespace platform
