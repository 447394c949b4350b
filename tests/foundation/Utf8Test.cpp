#include "platform/foundation/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

std::vector<char32_t> codePoints(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) out.push_back(utf8::nextCodePoint(text, i));
  return out;
}

TEST(Utf8Test, MalformedSequencesAreRefusedOneByteAtATime) {
  const char32_t bad = utf8::kInvalid;
  EXPECT_EQ(codePoints("a\xC3\xA9\xF0\x9F\x98\x80"), (std::vector<char32_t>{'a', 0xE9, 0x1F600}));
  EXPECT_EQ(codePoints("\xC0\xAF"), (std::vector<char32_t>{bad, bad})) << "overlong";
  EXPECT_EQ(codePoints("\xED\xA0\x80"), (std::vector<char32_t>{bad, bad, bad})) << "surrogate";
  EXPECT_EQ(codePoints("\xF4\x90\x80\x80").front(), bad) << "past U+10FFFF";
  EXPECT_EQ(codePoints("\xE2\x82"), (std::vector<char32_t>{bad, bad})) << "truncated";
  EXPECT_EQ(codePoints("\xE2(x"), (std::vector<char32_t>{bad, '(', 'x'}));
  EXPECT_EQ(toValidUtf8("a\xFF\xC3\xA9\xE2\x82"), "a\xEF\xBF\xBD\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8Test, EncodingNeverWritesWhatTheDecoderRefuses) {
  std::string out;
  for (char32_t cp : {char32_t{0x7F}, char32_t{0x80}, char32_t{0x7FF}, char32_t{0x800},
                      char32_t{0xFFFF}, char32_t{0x10000}, char32_t{0x10FFFF}}) {
    utf8::append(out, cp);
  }
  EXPECT_EQ(codePoints(out),
            (std::vector<char32_t>{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}));
  out.clear();
  utf8::append(out, 0xDC00);
  utf8::append(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8Test, Utf16PairsJoinAndLoneHalvesAreReplaced) {
  using utf8::ByteOrder;
  // "é", then U+1F600 as a pair, then a lone high half before "A", then a trailing odd byte.
  const std::string big("\x00\xE9\xD8\x3D\xDE\x00\xD8\x3D\x00\x41\x7F", 11);
  EXPECT_EQ(utf8::fromUtf16(big, ByteOrder::BigEndian),
            "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD"
            "A");
  const std::string little("\xE9\x00\x00\xDC", 4);  // a lone low half
  EXPECT_EQ(utf8::fromUtf16(little, ByteOrder::LittleEndian), "\xC3\xA9\xEF\xBF\xBD");
  const std::string cut("\x00\x41\xD8\x3D", 4);  // a high half at the very end
  EXPECT_EQ(utf8::fromUtf16(cut, ByteOrder::BigEndian), "A\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
