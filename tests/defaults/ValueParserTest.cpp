// The values halvex-defaults writes: dates in the forms it prints, type flags and their
// refusals, lists, and property-list literals up to their nesting bound.
#include "ValueParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using defaults::parseDate;
using defaults::parseWriteArguments;
using platform::Value;

namespace {

Value parsedValue(const std::vector<std::string>& words) {
  const auto parsed = parseWriteArguments(words);
  EXPECT_TRUE(parsed.request.has_value()) << parsed.error;
  return parsed.request ? parsed.request->value : Value();
}

std::string refusal(const std::vector<std::string>& words) {
  const auto parsed = parseWriteArguments(words);
  EXPECT_FALSE(parsed.request.has_value());
  return parsed.error;
}

}  // namespace

TEST(ValueParserTest, DatesReadBackFromTheFormsTheProgramPrints) {
  for (const char* printed : {"2024-01-02 03:04:05 +0000", "1969-12-31 23:59:59 +0000",
                              "2000-02-29 12:00:00 +0000", "9999-12-31 23:59:59 +0000"}) {
    const auto date = parseDate(printed);
    ASSERT_TRUE(date) << printed;
    EXPECT_EQ(date->description(), printed);
  }
  EXPECT_EQ(parseDate("2024-01-02T03:04:05Z")->dateValue(),
            parseDate("2024-01-02 03:04:05 +0000")->dateValue());
  EXPECT_EQ(parseDate("2024-01-02 04:34:05 +0130")->dateValue(),
            parseDate("2024-01-02 03:04:05 +0000")->dateValue());
  EXPECT_EQ(parseDate("2024-01-01 23:04:05 -0400")->dateValue(),
            parseDate("2024-01-02T03:04:05Z")->dateValue());
  EXPECT_EQ(parseDate("2001-01-01T00:00:00Z")->dateValue(), 0.0);
  for (const char* wrong :
       {"2023-02-29 00:00:00 +0000", "2024-01-02 24:00:00 +0000", "2024-01-02 03:04:05",
        "2024-01-02T03:04:05", "2024-01-02 03:04:05 +2400", "2024-01-02 03:04:05 +0000 ",
        "2024-1-02T03:04:05Z", "2024-01-02T03:04:05+0000", ""}) {
    EXPECT_FALSE(parseDate(wrong)) << wrong;
  }
}

TEST(ValueParserTest, TypeFlagsTakeTheirTextOrNameTheWordTheyRefuse) {
  EXPECT_EQ(parsedValue({"-int", "-5"}).integerBits(), -5);
  EXPECT_TRUE(parsedValue({"-int", "18446744073709551615"}).isUnsignedInteger());
  EXPECT_EQ(parsedValue({"-float", "2.5e1"}).realValue(), 25.0);
  EXPECT_TRUE(parsedValue({"-bool", "YES"}).booleanValue());
  EXPECT_FALSE(parsedValue({"-bool", "0"}).booleanValue());
  EXPECT_TRUE(parsedValue({"-date", "2024-01-02 03:04:05 +0000"}).isDate());
  EXPECT_EQ(parsedValue({"-data", "0aFF"}).dataValue(), (Value::Bytes{0x0a, 0xff}));

  EXPECT_EQ(refusal({"-bool", "maybe"}), "\"maybe\" is not true, false, yes, no, 1 or 0 (-bool)");
  EXPECT_NE(refusal({"-int", "99999999999999999999"}).find("\"99999999999999999999\""),
            std::string::npos);
  EXPECT_NE(refusal({"-float", "inf"}).find("finite"), std::string::npos);
  EXPECT_NE(refusal({"-data", "abc"}).find("hexadecimal"), std::string::npos);
  EXPECT_EQ(refusal({"-int"}), "-int needs a value");
  EXPECT_EQ(refusal({"-string", "a", "b"}), "unexpected \"b\" after the value");
}

TEST(ValueParserTest, ListsAndLiteralsBuildTheirContainers) {
  const auto added = parseWriteArguments({"-dict-add", "autoLaunch", "-bool", "yes", "name", "x"});
  ASSERT_TRUE(added.request);
  EXPECT_EQ(added.request->mode, defaults::WriteMode::DictionaryAdd);
  EXPECT_TRUE(added.request->value["autoLaunch"].booleanValue());
  EXPECT_EQ(added.request->value["name"].stringValue(), "x");

  const Value literal =
      parsedValue({R"({ a = (x, "y z", <0a0b>,); "b" = { c = d; }; /* note */ })"});
  EXPECT_EQ(literal["a"].arrayValue().size(), 3u);
  EXPECT_EQ(literal["a"][1].stringValue(), "y z");
  EXPECT_EQ(literal["b"]["c"].stringValue(), "d");
  EXPECT_EQ(parsedValue({"<integer>7</integer>"}).integerBits(), 7);
  EXPECT_EQ(parsedValue({"hello world"}).stringValue(), "hello world");

  EXPECT_EQ(refusal({"{ a = 1 "}), "\"{ a = 1 \" is not a property-list value");
  EXPECT_NE(refusal({"-dict", "lonely"}).find("has no value"), std::string::npos);
  // Nesting past the reader's bound is refused, not followed down the stack.
  EXPECT_FALSE(defaults::parsePlistLiteral(std::string(100000, '(')));
}
