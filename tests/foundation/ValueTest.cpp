#include "platform/foundation/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/foundation/Assertion.h"

namespace platform {
namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::uint64_t kUInt64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

struct NumberCase {
  const char* name;
  Value value;
  std::int32_t intValue;
  std::int64_t integerValue;
  bool boolValue;
};

TEST(ValueTest, NumberAccessorsCastLikeC) {
  const std::vector<NumberCase> cases = {
      {"YES", Value::boolean(true), 1, 1, true},
      {"NO", Value::boolean(false), 0, 0, false},
      {"unsigned 4294967295", Value::unsignedInteger(4294967295u), -1, 4294967295, true},
      {"INT64_MAX", Value::integer(kInt64Max), -1, kInt64Max, true},
      {"INT64_MIN", Value::integer(kInt64Min), 0, kInt64Min, true},
      {"UINT64_MAX", Value::unsignedInteger(kUInt64Max), -1, -1, true},
      {"2.7", Value::real(2.7), 2, 2, true},
      {"-2.7", Value::real(-2.7), -2, -2, true},
      {"0.0", Value::real(0.0), 0, 0, false},
      {"-37.0", Value::real(-37.0), -37, -37, true},
      {"1e10 saturates", Value::real(1e10), kInt32Max, 10000000000, true},
      {"-1e10 saturates", Value::real(-1e10), kInt32Min, -10000000000, true},
      {"1e30 saturates", Value::real(1e30), kInt32Max, kInt64Max, true},
      {"-1e30 saturates", Value::real(-1e30), kInt32Min, kInt64Min, true},
      {"NaN", Value::real(std::nan("")), 0, 0, false},
      {"integer 0", Value::integer(0), 0, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.value.intValue(), c.intValue);
    EXPECT_EQ(c.value.integerValue(), c.integerValue);
    EXPECT_EQ(c.value.boolValue(), c.boolValue);
  }
}

TEST(ValueTest, FloatValueNarrowsOnce) {
  EXPECT_EQ(Value::boolean(true).floatValue(), 1.0f);
  EXPECT_EQ(Value::boolean(false).floatValue(), 0.0f);
  EXPECT_EQ(Value::unsignedInteger(4294967295u).floatValue(), 4294967296.0f);
  EXPECT_EQ(Value::real(2.7).floatValue(), 2.7f);
  EXPECT_EQ(Value::unsignedInteger(kUInt64Max).doubleValue(), 18446744073709551616.0);
  EXPECT_EQ(Value::integer(-1).doubleValue(), -1.0);
}

TEST(ValueTest, UnsignedFlagOnlyAboveInt64Max) {
  EXPECT_FALSE(Value::unsignedInteger(4294967295u).isUnsignedInteger());
  EXPECT_FALSE(Value::unsignedInteger(static_cast<std::uint64_t>(kInt64Max)).isUnsignedInteger());
  EXPECT_TRUE(
      Value::unsignedInteger(static_cast<std::uint64_t>(kInt64Max) + 1).isUnsignedInteger());
  EXPECT_EQ(Value::unsignedInteger(kUInt64Max).unsignedBits(), kUInt64Max);
}

TEST(ValueTest, StringIntValueScansDecimalAndSaturates) {
  const std::string nines(30, '9');
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"123", 123},
      {"123a", 123},
      {"+123", 123},
      {"  42", 42},
      {"\n\t42", 42},
      {"- 5", -5},
      {"-123a", -123},
      {"a123", 0},
      {"++123", 0},
      {"--123", 0},
      {"", 0},
      {"   ", 0},
      {"0x1F", 0},
      {"007", 7},
      {"4.9", 4},
      {"1e3", 1},
      {"2147483648", kInt32Max},
      {"4294967295", kInt32Max},
      {nines, kInt32Max},
      {"-" + nines, kInt32Min},
      {"-2147483648", kInt32Min},
      {"-2147483649", kInt32Min},
      {"\xC2\xA0"
       "8",
       8},  // U+00A0
      {"\xE2\x80\x8B"
       "9",
       9},  // U+200B
      {"\xE3\x80\x80"
       "3",
       3},  // U+3000
      {"\xE2\x80\x8C"
       "3",
       0},  // U+200C is not whitespace
      {"\x7F"
       "6",
       6},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Value(text).intValue(), expected);
  }
}

TEST(ValueTest, StringIntegerValueIs64Bit) {
  const std::string nines(30, '9');
  EXPECT_EQ(Value("4294967295").integerValue(), 4294967295);
  EXPECT_EQ(Value("9223372036854775807").integerValue(), kInt64Max);
  EXPECT_EQ(Value("9223372036854775808").integerValue(), kInt64Max);
  EXPECT_EQ(Value("-9223372036854775808").integerValue(), kInt64Min);
  EXPECT_EQ(Value("-9223372036854775809").integerValue(), kInt64Min);
  EXPECT_EQ(Value(nines).integerValue(), kInt64Max);
  EXPECT_EQ(Value("-" + nines).integerValue(), kInt64Min);
  EXPECT_EQ(Value(" -17x").integerValue(), -17);
}

TEST(ValueTest, StringDoubleValueParsesLongestNumberRun) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<const char*, double>> cases = {
      {".2", 0.2},
      {"+.2", 0.2},
      {"-.2", -0.2},
      {"1.23015e+3", 1230.15},
      {"12.3015e+02", 1230.15},
      {"-31.25e-04", -0.003125},
      {".e12", 0},
      {"2e3.12", 2000},
      {"12.e4", 120000},
      {"1.2.3.4", 1.2},
      {"  3.5kg", 3.5},
      {"1,5", 1.0},
      {"0x10", 0},
      {"inf", 0},
      {"nan", 0},
      {"", 0},
      {"1e999", inf},
      {"-1e999", -inf},
      {"\xE3\x80\x80"
       "2.5",
       2.5},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Value(text).doubleValue(), expected);
  }
  EXPECT_EQ(Value("3.4e39").floatValue(), std::numeric_limits<float>::infinity());
  EXPECT_EQ(Value("2.7").floatValue(), 2.7f);
}

TEST(ValueTest, StringBoolValueFollowsFirstSignificantCharacter) {
  const std::vector<const char*> yes = {"t",
                                        "true",
                                        "tRuE",
                                        "yes",
                                        "Y",
                                        "ya",
                                        "y+",
                                        "1",
                                        "+000009",
                                        "-1",
                                        " 1 ",
                                        "1a",
                                        "0123",
                                        "T",
                                        "\xE2\x80\x80"
                                        "y"};
  const std::vector<const char*> no = {"false",  "no",    "0",  "-00000", "0.5", "on",
                                       "<true>", "_true", "+t", "+y",     "0t",  "+0y",
                                       "0+y",    "+",     "++", "",       " ",   "a1"};
  for (const char* text : yes) EXPECT_EQ(Value(text).boolValue(), true) << text;
  for (const char* text : no) EXPECT_EQ(Value(text).boolValue(), false) << text;
}

TEST(ValueTest, OnlyNumbersAndStringsAnswerNumberAccessors) {
  const std::vector<Value> silent = {Value(),
                                     Value::null(),
                                     Value::data({1, 2}),
                                     Value::date(5),
                                     Value::array({Value::integer(1)}),
                                     Value::dictionary({{"a", Value::integer(1)}}),
                                     Value::object(nullptr)};
  for (const auto& v : silent) {
    SCOPED_TRACE(valueKindName(v.kind()));
    EXPECT_FALSE(v.respondsToNumberAccessors());
    EXPECT_FALSE(v.boolValue());
    EXPECT_FALSE(v.intValue());
    EXPECT_FALSE(v.integerValue());
    EXPECT_FALSE(v.floatValue());
    EXPECT_FALSE(v.doubleValue());
  }
  EXPECT_TRUE(Value::boolean(false).isNumber());
  EXPECT_TRUE(Value("").respondsToNumberAccessors());
  EXPECT_EQ(Value(static_cast<const char*>(nullptr)).kind(), ValueKind::None);
}

TEST(ValueTest, EqualityComparesNumbersByValueAcrossStorage) {
  struct Case {
    const char* name;
    Value a;
    Value b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"1 == 1.0", Value::integer(1), Value::real(1.0), true},
      {"1.1 != 1", Value::real(1.1), Value::integer(1), false},
      {"YES == 1", Value::boolean(true), Value::integer(1), true},
      {"YES == 1.0", Value::boolean(true), Value::real(1.0), true},
      {"YES != 2", Value::boolean(true), Value::integer(2), false},
      {"NO == 0", Value::boolean(false), Value::integer(0), true},
      {"YES != NO", Value::boolean(true), Value::boolean(false), false},
      {"-1 != UINT64_MAX", Value::integer(-1), Value::unsignedInteger(kUInt64Max), false},
      {"UINT64_MAX == UINT64_MAX", Value::unsignedInteger(kUInt64Max),
       Value::unsignedInteger(kUInt64Max), true},
      {"2^53+1 != 2^53 as real", Value::integer((std::int64_t{1} << 53) + 1),
       Value::real(9007199254740992.0), false},
      {"INT64_MAX != 2^63", Value::integer(kInt64Max), Value::real(9223372036854775808.0), false},
      {"2^63 unsigned == 2^63 real", Value::unsignedInteger(std::uint64_t{1} << 63),
       Value::real(9223372036854775808.0), true},
      {"NaN equals itself", Value::real(std::nan("")), Value::real(std::nan("")), true},
      {"\"1\" != 1", Value("1"), Value::integer(1), false},
      {"literal strings", Value("A"), Value("a"), false},
      {"precomposed != decomposed", Value("\xC3\xA9"), Value("e\xCC\x81"), false},
      {"same strings", Value("abc"), Value(std::string("abc")), true},
      {"none == none", Value(), Value(), true},
      {"none != null", Value(), Value::null(), false},
      {"null == null", Value::null(), Value::null(), true},
      {"date by value", Value::date(1.5), Value::date(1.5), true},
      {"NaN date equals itself", Value::date(std::nan("")), Value::date(std::nan("")), true},
      {"date != real", Value::date(1.5), Value::real(1.5), false},
      {"data by bytes", Value::data({1, 2}), Value::data({1, 2}), true},
      {"nested arrays", Value::array({Value::integer(1), Value::array({Value("x")})}),
       Value::array({Value::real(1.0), Value::array({Value("x")})}), true},
      {"arrays differ in length", Value::array({Value::integer(1)}), Value::array(), false},
      {"dictionaries", Value::dictionary({{"a", Value::boolean(true)}}),
       Value::dictionary({{"a", Value::integer(1)}}), true},
      {"dictionaries differ in key", Value::dictionary({{"a", Value::integer(1)}}),
       Value::dictionary({{"b", Value::integer(1)}}), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.a == c.b, c.equal);
    EXPECT_EQ(c.b == c.a, c.equal);
  }
}

TEST(ValueTest, CopiesNeverAlias) {
  Value original = Value::dictionary({{"list", Value::array({Value::integer(1)})}});
  Value copy = original;
  copy.mutableDictionary()["list"].mutableArray().push_back(Value::integer(2));
  copy.mutableDictionary()["new"] = Value("x");
  EXPECT_EQ(original["list"].arrayValue().size(), 1u);
  EXPECT_TRUE(original["new"].isNone());
  EXPECT_EQ(copy["list"].arrayValue().size(), 2u);

  // A copy taken while a mutable reference is out does not see later writes through it.
  Value list = Value::array();
  Value::Array& items = list.mutableArray();
  items.push_back(Value::integer(1));
  Value snapshot = list;
  items.push_back(Value::integer(2));
  EXPECT_EQ(snapshot.arrayValue().size(), 1u);
  EXPECT_EQ(list.arrayValue().size(), 2u);

  Value assigned;
  assigned = list;
  items.push_back(Value::integer(3));
  EXPECT_EQ(assigned.arrayValue().size(), 2u);

  Value text("abc");
  Value moved = std::move(text);
  EXPECT_EQ(moved.stringValue(), "abc");
}

TEST(ValueTest, MutatingTheWrongKindGoesToTheAssertionHandler) {
  int failures = 0;
  ScopedAssertionHandler handler([&](const AssertionFailure&) { ++failures; });
  Value text("keep");
  text.mutableArray().push_back(Value::integer(1));
  text.mutableDictionary()["a"] = Value::integer(1);
  EXPECT_EQ(failures, 2);
  EXPECT_EQ(text, Value("keep"));
}

TEST(ValueTest, LookupsFallBackToNone) {
  const Value dict = Value::dictionary({{"a", Value::integer(1)}, {"@foo", Value::integer(2)}});
  EXPECT_EQ(dict["a"], Value::integer(1));
  EXPECT_TRUE(dict["missing"].isNone());
  EXPECT_TRUE(Value("a")["a"].isNone());
  EXPECT_TRUE(Value::array({Value::integer(1)})[1].isNone());
  EXPECT_EQ(dict.valueForKey("a"), Value::integer(1));
  EXPECT_EQ(dict.valueForKey("@count"), Value::integer(2));
  EXPECT_TRUE(dict.valueForKey("@foo").isNone());  // unreachable through key-value lookup
  EXPECT_TRUE(Value::array().valueForKey("a").isNone());
}

TEST(ValueTest, PropertyListKindsAreCheckedDeeply) {
  EXPECT_TRUE(
      Value::dictionary({{"a", Value::array({Value::date(0), Value::data({})})}}).isPropertyList());
  EXPECT_FALSE(Value::array({Value::null()}).isPropertyList());
  EXPECT_FALSE(Value::dictionary({{"a", Value::array({Value()})}}).isPropertyList());
  EXPECT_FALSE(Value::object(nullptr).isPropertyList());
  EXPECT_FALSE(Value().isPropertyList());
}

TEST(ValueTest, DescriptionReadsLikeFormatObject) {
  EXPECT_EQ(Value("plain text").description(), "plain text");
  EXPECT_EQ(Value::integer(-42).description(), "-42");
  EXPECT_EQ(Value::unsignedInteger(kUInt64Max).description(), "18446744073709551615");
  EXPECT_EQ(Value::real(0.1).description(), "0.1");
  EXPECT_EQ(Value::boolean(true).description(), "1");
  EXPECT_EQ(Value::boolean(false).description(), "0");
  EXPECT_EQ(Value::null().description(), "<null>");
  EXPECT_EQ(Value().description(), "(null)");
  EXPECT_EQ(Value::date(0).description(), "2001-01-01 00:00:00 +0000");
  EXPECT_EQ(Value::data({0xDE, 0xAD, 0xBE, 0xEF, 0x01}).description(), "<deadbeef 01>");
  EXPECT_EQ(Value::array({Value("a b"), Value::integer(1)}).description(),
            "(\n    \"a b\",\n    1\n)");
  EXPECT_EQ(Value::dictionary({{"key", Value::array({Value("x")})}}).description(),
            "{\n    key = (\n        x\n    );\n}");
}

}  // namespace
}  // namespace platform
