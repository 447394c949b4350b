#include "platform/workspace/StringsFile.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;
using platform::parseStringsFile;
using platform::StringsTable;

std::string utf16(const std::u16string& text, bool bigEndian, bool mark) {
  std::string bytes;
  auto put = [&](char16_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes.push_back(bigEndian ? high : low);
    bytes.push_back(bigEndian ? low : high);
  };
  if (mark) put(u'\uFEFF');
  for (char16_t unit : text) put(unit);
  return bytes;
}

struct FormCase {
  const char* name;
  std::string bytes;
  StringsTable expected;
};

TEST(StringsFileTest, ReadsEveryEncodingAndForm) {
  const StringsTable straße{{"CFBundleDisplayName", "Straße"}};
  const std::u16string text = u"/* name */\nCFBundleDisplayName = \"Straße\";\n";
  const FormCase cases[] = {
      {"utf-8", "CFBundleDisplayName = \"Straße\";", straße},
      {"utf-8 with mark", "\xEF\xBB\xBF\"CFBundleDisplayName\" = \"Straße\";", straße},
      {"utf-16 little-endian with mark", utf16(text, false, true), straße},
      {"utf-16 big-endian with mark", utf16(text, true, true), straße},
      {"utf-16 little-endian without mark", utf16(text, false, false), straße},
      {"utf-16 big-endian without mark", utf16(text, true, false), straße},
      {"xml plist, non-strings left out",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
       "<key>CFBundleDisplayName</key><string>Straße</string>"
       "<key>Count</key><integer>3</integer></dict></plist>",
       straße},
      {"binary plist, non-strings left out",
       std::string("\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x04\x5f\x10\x13\x43\x46"
                   "\x42\x75\x6e\x64\x6c\x65\x44\x69\x73\x70\x6c\x61\x79\x4e\x61\x6d\x65\x55"
                   "\x43\x6f\x75\x6e\x74\x58\x46\x61\x68\x72\x70\x6c\x61\x6e\x10\x03\x08\x0d"
                   "\x23\x29\x32\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00"
                   "\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34",
                   89),
       {{"CFBundleDisplayName", "Fahrplan"}}},
      {"empty file", "", {}},
      {"only comments", "// nothing\n/* here */  ", {}},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto table = parseStringsFile(c.bytes);
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(*table, c.expected);
  }
}

TEST(StringsFileTest, TextFormUnderstandsEscapesCommentsAndShorthand) {
  const std::string source = R"(
    /* a block comment with "quotes" and ; inside */
    "newline" = "a\nb";   // a line comment
    "quote" = "say \"hi\"";
    "backslash" = "c:\\dir";
    "tab" = "a\tb";
    "unicode" = "caf\U00e9";
    "lower-u" = "\u00DF";
    "pair" = "\UD83D\UDE00";
    "lone" = "x\UD83Dy";
    "octal" = "\101";
    "single" = 'it\'s';
    unquoted.key-1 = value_2;
    "shorthand";
    "dup" = "first";
    "dup" = "second";
  )";
  auto table = parseStringsFile(source);
  ASSERT_TRUE(table.has_value());
  const StringsTable expected{
      {"newline", "a\nb"}, {"quote", "say \"hi\""},       {"backslash", "c:\\dir"},
      {"tab", "a\tb"},     {"unicode", "café"},           {"lower-u", "ß"},
      {"pair", "😀"},       {"lone", "x\uFFFDy"},          {"octal", "A"},
      {"single", "it's"},  {"unquoted.key-1", "value_2"}, {"shorthand", "shorthand"},
      {"dup", "second"},
  };
  EXPECT_EQ(*table, expected);
}

TEST(StringsFileTest, NulCharactersBecomeReplacementInEveryForm) {
  const FormCase cases[] = {
      {"long escape", R"("name" = "a\U0000b";)", {{"name", "a\uFFFDb"}}},
      {"short escape", R"("name" = "a\u0000b";)", {{"name", "a\uFFFDb"}}},
      {"octal escape", R"("name" = "a\0b";)", {{"name", "a\uFFFDb"}}},
      {"in a key and its shorthand value", R"("n\U0000";)", {{"n\uFFFD", "n\uFFFD"}}},
      {"raw in utf-16",
       utf16(u"\"name\" = \"a\u0000\u0000b\";"s, false, true),
       {{"name", "a\uFFFD\uFFFDb"}}},
  };
  for (const FormCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto table = parseStringsFile(c.bytes);
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(*table, c.expected);
  }
}

TEST(StringsFileTest, MalformedFilesAreRejectedWhole) {
  const std::pair<const char*, std::string> cases[] = {
      {"missing semicolon", "\"a\" = \"b\""},
      {"missing value", "\"a\" = ;"},
      {"missing equals", "\"a\" \"b\";"},
      {"unterminated string", "\"a\" = \"b;"},
      {"unterminated comment", "\"a\" = \"b\"; /* open"},
      {"stray character", "\"a\" = \"b\"; #"},
      {"invalid utf-8", "\"a\" = \"\xC3\x28\";"},
      {"odd utf-16 length", std::string("\xFF\xFE\x61\x00\x62", 5)},
      {"plist with array root", "<plist version=\"1.0\"><array/></plist>"},
      {"broken xml plist", "<plist version=\"1.0\"><dict><key>a</key>"},
      {"truncated binary plist", "bplist00\xd1\x01"},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(parseStringsFile(bytes).has_value());
  }
}

}  // namespace
