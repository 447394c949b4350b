#include "platform/foundation/StringCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace platform {
namespace {

const char* name(ComparisonResult result) {
  switch (result) {
    case ComparisonResult::Ascending:
      return "ascending";
    case ComparisonResult::Same:
      return "same";
    case ComparisonResult::Descending:
      return "descending";
  }
  return "?";
}

TEST(StringCompareTest, CaseInsensitiveOrderFollowsFoldedCodePoints) {
  struct Case {
    std::string a;
    std::string b;
    ComparisonResult expected;
  };
  const auto same = ComparisonResult::Same;
  const auto ascending = ComparisonResult::Ascending;
  const auto descending = ComparisonResult::Descending;
  const std::vector<Case> cases = {
      {"abc", "ABC", same},
      {"stra\xC3\x9F"
       "e",
       "STRASSE", same},
      {"\xC3\x89", "\xC3\xA9", same},   // É / é
      {"\xC3\xA9", "e\xCC\x81", same},  // é / e + U+0301
      {"\xC3\x89", "E\xCC\x81", same},
      {"\xC3\xA9", "f", ascending},
      {"_a", "Aa", ascending},  // 0x5F < 0x61
      {"[x", "a", ascending},
      {"10", "9", ascending},
      {" z", "a", ascending},
      {"app", "Apple", ascending},
      {"\xC3\xA9", "e", descending},
      {"\xC4\xB1", "I", descending},  // ı / I
      {"\xC4\xB0", "i", descending},  // İ / i
      {"{x", "z", descending},
      {"", "", same},
      {"", "a", ascending},
      {"\xCE\xA3\xCE\x9F\xCE\xA6", "\xCF\x83\xCE\xBF\xCF\x86", same},  // ΣΟΦ / σοφ
      {"\xCF\x82", "\xCF\x83", same},                                  // final sigma folds to σ
      {"\xD0\x81", "\xD0\xB5\xCC\x88", same},                          // Ё / е + U+0308
      {"\xD0\x99", "\xD0\xB9", same},                                  // Й / й
      {"\xC3\x86", "\xC3\xA6", same},                                  // Æ / æ
      {"\xC5\x92", "\xC5\x93", same},                                  // Œ / œ
      {"\xE1\xBA\x9E", "ss", same},                                    // ẞ / ss
      {"\xE2\x84\xAA", "k", same},                                     // Kelvin sign / k
      {"z", "\xC3\xA0", descending},                     // à sorts with its base letter a
      {"\xF0\x9F\x98\x80", "\xE4\xB8\x80", descending},  // U+1F600 / U+4E00
      {"ok\xFF", "ok\xF4\x8F\xBF\xBF", descending},      // invalid byte sorts above U+10FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " vs " + c.b);
    EXPECT_STREQ(name(caseInsensitiveCompare(c.a, c.b)), name(c.expected));
    const ComparisonResult reversed = static_cast<ComparisonResult>(-static_cast<int>(c.expected));
    EXPECT_STREQ(name(caseInsensitiveCompare(c.b, c.a)), name(reversed));
    // Keys folded once order as the comparison does.
    const std::u32string keyA = caseInsensitiveKey(c.a);
    const std::u32string keyB = caseInsensitiveKey(c.b);
    EXPECT_STREQ(name(keyA < keyB ? ascending : keyB < keyA ? descending : same), name(c.expected));
  }
}

TEST(StringCompareTest, AsciiPunctuationSortsAroundFoldedLetters) {
  std::vector<std::string> words = {"{", "b", "_", "A", "Z", "[", "9", " ", "@", "~", "\xC3\xA9"};
  std::sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) {
    return caseInsensitiveCompare(a, b) == ComparisonResult::Ascending;
  });
  EXPECT_EQ(words, (std::vector<std::string>{" ", "9", "@", "[", "_", "A", "b", "\xC3\xA9", "Z",
                                             "{", "~"}));
}

TEST(StringCompareTest, InsertionIndexIsTheLowerBound) {
  const auto compareInts = [](int a, int b) {
    return a < b ? ComparisonResult::Ascending
                 : (a > b ? ComparisonResult::Descending : ComparisonResult::Same);
  };
  const std::vector<int> sorted = {0, 1, 2, 2, 3, 4, 4, 6, 7, 7, 7, 8, 9, 9};
  struct Case {
    int item;
    std::size_t index;
  };
  for (const auto& c :
       std::vector<Case>{{9, 12}, {7, 8}, {2, 2}, {5, 7}, {-1, 0}, {10, 14}, {0, 0}}) {
    EXPECT_EQ(insertionIndex(sorted, c.item, compareInts), c.index) << c.item;
  }
  EXPECT_EQ(insertionIndex(std::vector<int>{}, 3, compareInts), 0u);

  const std::vector<std::string> names = {"alpha", "Beta", "beta", "Gamma"};
  const auto compareNames = [](const std::string& a, const std::string& b) {
    return caseInsensitiveCompare(a, b);
  };
  EXPECT_EQ(insertionIndex(names, std::string("BETA"), compareNames), 1u);
  EXPECT_EQ(insertionIndex(names, std::string("delta"), compareNames), 3u);
  EXPECT_EQ(insertionIndex(names, std::string("zeta"), compareNames), 4u);
}

}  // namespace
}  // namespace platform
