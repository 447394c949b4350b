#include "platform/foundation/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "PlistTestValues.h"

namespace platform {
namespace {

using testing_support::sameStorage;

TEST(JsonTest, WritesEveryKind) {
  struct Case {
    Value value;
    std::string json;
  };
  const std::vector<Case> cases = {
      {Value(), "null"},
      {Value::null(), "null"},
      {Value::object(nullptr), "null"},
      {Value::boolean(true), "true"},
      {Value::boolean(false), "false"},
      {Value::integer(-1), "-1"},
      {Value::integer(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Value::real(0.1), "0.1"},
      {Value::real(1.0), "1.0"},
      {Value::real(-2.5e-300), "-2.5e-300"},
      {Value::real(1e300), "1e+300"},
      {Value::real(std::numeric_limits<double>::infinity()), "null"},
      {Value::real(std::nan("")), "null"},
      {Value("quote\" backslash\\ slash/ \b\f\n\r\t \x01\x1F\x7F"),
       "\"quote\\\" backslash\\\\ slash/ \\b\\f\\n\\r\\t \\u0001\\u001f\\u007f\""},
      {Value("caf\xC3\xA9 \xF0\x9F\x98\x80"), "\"caf\\u00e9 \\ud83d\\ude00\""},
      {Value("bad \xFF byte"), "\"bad \\ufffd byte\""},
      {Value::data({0x00, 0x01, 0xFF}), "\"AAH/\""},
      {Value::data({}), "\"\""},
      {Value::date(0), "\"2001-01-01T00:00:00Z\""},
      {Value::date(599627045.25), "\"2020-01-02T03:04:05.250Z\""},
      {Value::date(-978307200.0), "\"1970-01-01T00:00:00Z\""},
      {Value::date(1e15), "null"},
      {Value::array(), "[]"},
      {Value::dictionary(), "{}"},
      {Value::dictionary({{"b", Value::array({Value::integer(1), Value("x")})},
                          {"a\n", Value::dictionary({{"", Value::null()}})}}),
       "{\"a\\n\":{\"\":null},\"b\":[1,\"x\"]}"},
  };
  for (const auto& c : cases) EXPECT_EQ(toJson(c.value), c.json) << c.value.description();
}

TEST(JsonTest, ParsesStrictJson) {
  struct Case {
    std::string text;
    Value expected;
  };
  const std::vector<Case> cases = {
      {"0", Value::integer(0)},
      {"-0", Value::integer(0)},
      {" -42 ", Value::integer(-42)},
      {"9223372036854775807", Value::integer(std::numeric_limits<std::int64_t>::max())},
      {"-9223372036854775808", Value::integer(std::numeric_limits<std::int64_t>::min())},
      {"18446744073709551615", Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max())},
      {"18446744073709551616", Value::real(18446744073709551616.0)},
      {"-9223372036854775809", Value::real(-9223372036854775808.0)},
      {"1.0", Value::real(1.0)},
      {"1e2", Value::real(100.0)},
      {"-2.5E-3", Value::real(-0.0025)},
      {"true", Value::boolean(true)},
      {"null", Value::null()},
      {"\"\\u00e9\\ud83d\\ude00\\/\\\"\"", Value("\xC3\xA9\xF0\x9F\x98\x80/\"")},
      {"\"caf\xC3\xA9\"", Value("caf\xC3\xA9")},
      {"[1, [], {}, \"x\"]",
       Value::array({Value::integer(1), Value::array(), Value::dictionary(), Value("x")})},
      {"{\"a\": 1, \"a\": 2, \"b\": {\"c\": null}}",
       Value::dictionary(
           {{"a", Value::integer(2)}, {"b", Value::dictionary({{"c", Value::null()}})}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto parsed = parseJson(c.text);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(sameStorage(*parsed, c.expected));
  }
}

TEST(JsonTest, RejectsAnythingNotStrictJson) {
  const std::vector<std::string> bad = {
      "",
      " ",
      "01",
      "+1",
      "1.",
      ".5",
      "1e",
      "0x10",
      "NaN",
      "Infinity",
      "1e999",
      "-",
      "tru",
      "True",
      "nul",
      "[1,]",
      "[1 2]",
      "{\"a\":1,}",
      "{a:1}",
      "{'a':1}",
      "{\"a\" 1}",
      "[",
      "{",
      "\"open",
      "\"\\x\"",
      "\"\\u12\"",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "\"\\ud800\\u0041\"",
      "\"tab\there\"",
      "\"bad \xFF\"",
      "1 2",
      "[] x",
      "\xEF\xBB\xBF{}",
      "/* c */ 1",
  };
  for (const auto& text : bad) EXPECT_FALSE(parseJson(text)) << text;
}

TEST(JsonTest, NestingIsLimited) {
  const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(parseJson(nested(257)));
  EXPECT_FALSE(parseJson(nested(258)));
  EXPECT_FALSE(parseJson(std::string(1000000, '[')));
}

TEST(JsonTest, WrittenJsonReadsBack) {
  const Value value = Value::dictionary({
      {"int", Value::integer(-7)},
      {"big", Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max())},
      {"real", Value::real(1.0)},
      {"tiny", Value::real(5e-324)},
      {"text", Value("line\nbreak \xE2\x80\xA8 \xF0\x9F\x98\x80 \x01")},
      {"flags", Value::array({Value::boolean(true), Value::boolean(false), Value::null()})},
  });
  const auto back = parseJson(toJson(value));
  ASSERT_TRUE(back);
  EXPECT_TRUE(sameStorage(*back, value));
}

}  // namespace
}  // namespace platform
