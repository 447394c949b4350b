// The values halvex-defaults writes: type flags and their refusals, lists, and property-list
// literals with the text form's escapes and up to their nesting bound.
#include "ValueParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

  // The text form's whole escape set, as strings files have it.
  EXPECT_EQ(parsedValue({R"("\U00e9\ud83d\ude00\101\a\v" )"}).stringValue(),
            "\u00e9\U0001F600A\a\v");
  const Value quoted = parsedValue({R"(('it\'s', "\0"))"});
  EXPECT_EQ(quoted[0].stringValue(), "it's");
  EXPECT_EQ(quoted[1].stringValue(), "\uFFFD");  // a NUL would cut the value short downstream
  EXPECT_EQ(refusal({"{ a = 1 "}), "\"{ a = 1 \" is not a property-list value");
  EXPECT_NE(refusal({"-dict", "lonely"}).find("has no value"), std::string::npos);
  // Nesting past the reader's bound is refused, not followed down the stack.
  EXPECT_FALSE(defaults::parsePlistLiteral(std::string(100000, '(')));
}
