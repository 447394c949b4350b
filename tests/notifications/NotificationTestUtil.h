// Helpers shared by the notification tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace hxtest {

// A userInfo that holds every property-list kind, including the ones a careless encoding folds
// together (a boolean and the integer 1, a real 1.0 and the integer 1, a large unsigned number).
inline platform::Value everyKindUserInfo() {
  using platform::Value;
  return Value::dictionary({
      {"true", Value::boolean(true)},
      {"false", Value::boolean(false)},
      {"one", Value::integer(1)},
      {"minusOne", Value::integer(-1)},
      {"int64Min", Value::integer(std::numeric_limits<std::int64_t>::min())},
      {"uint64Max", Value::unsignedInteger(std::numeric_limits<std::uint64_t>::max())},
      {"realOne", Value::real(1.0)},
      {"tenth", Value::real(0.1)},
      {"text", Value::string("h\xC3\xA9llo, \"w\xC3\xB6rld\"")},
      {"empty", Value::string("")},
      {"bytes", Value::data({0x00, 0xFF, 0x10})},
      {"date", Value::date(-99.5)},
      {"array", Value::array({Value::boolean(true), Value::integer(2), Value::string("3")})},
      {"nested", Value::dictionary({{"isBackgroundingEnabled", Value::boolean(false)},
                                    {"inner", Value::dictionary()}})},
  });
}

// Fails unless `actual` has the same kinds and contents as `expected`, all the way down.
// (Value's == compares numbers by value, so it would call true equal to 1.)
inline void expectSameKindsAndValues(const platform::Value& expected, const platform::Value& actual,
                                     const std::string& path = "") {
  using platform::ValueKind;
  ASSERT_EQ(expected.kind(), actual.kind()) << "at " << path << ": " << actual.description();
  switch (expected.kind()) {
    case ValueKind::Integer:
      EXPECT_EQ(expected.isUnsignedInteger(), actual.isUnsignedInteger()) << "at " << path;
      EXPECT_EQ(expected.unsignedBits(), actual.unsignedBits()) << "at " << path;
      break;
    case ValueKind::Boolean:
      EXPECT_EQ(expected.booleanValue(), actual.booleanValue()) << "at " << path;
      break;
    case ValueKind::Real:
      EXPECT_EQ(expected.realValue(), actual.realValue()) << "at " << path;
      break;
    case ValueKind::Date:
      EXPECT_EQ(expected.dateValue(), actual.dateValue()) << "at " << path;
      break;
    case ValueKind::Array:
      ASSERT_EQ(expected.arrayValue().size(), actual.arrayValue().size()) << "at " << path;
      for (std::size_t i = 0; i < expected.arrayValue().size(); ++i) {
        expectSameKindsAndValues(expected[i], actual[i], path + "/" + std::to_string(i));
      }
      break;
    case ValueKind::Dictionary:
      ASSERT_EQ(expected.dictionaryValue().size(), actual.dictionaryValue().size())
          << "at " << path << ": " << actual.description();
      for (const auto& [key, value] : expected.dictionaryValue()) {
        expectSameKindsAndValues(value, actual[key], path + "/" + key);
      }
      break;
    default:
      EXPECT_TRUE(expected == actual) << "at " << path << ": " << actual.description();
  }
}

// Sets an environment variable for the life of the scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

}  // namespace hxtest
