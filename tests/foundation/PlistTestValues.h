// Helpers shared by the property-list tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/Value.h"

namespace platform::testing_support {

// Equality that also requires the same storage: a boolean never matches the integer 1, and
// an unsigned integer never matches a signed one. NaN matches NaN.
inline ::testing::AssertionResult sameStorage(const Value& a, const Value& b,
                                              const std::string& where = "root") {
  if (a.kind() != b.kind() || a.isUnsignedInteger() != b.isUnsignedInteger()) {
    return ::testing::AssertionFailure()
           << where << ": " << valueKindName(a.kind()) << " " << a.description() << " vs "
           << valueKindName(b.kind()) << " " << b.description();
  }
  if (a.isArray()) {
    if (a.arrayValue().size() != b.arrayValue().size()) {
      return ::testing::AssertionFailure() << where << ": array sizes differ";
    }
    for (std::size_t i = 0; i < a.arrayValue().size(); ++i) {
      auto r = sameStorage(a[i], b[i], where + "[" + std::to_string(i) + "]");
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  if (a.isDictionary()) {
    if (a.dictionaryValue().size() != b.dictionaryValue().size()) {
      return ::testing::AssertionFailure() << where << ": dictionary sizes differ";
    }
    for (const auto& [key, item] : a.dictionaryValue()) {
      auto r = sameStorage(item, b[key], where + "." + key);
      if (!r) return r;
    }
    return ::testing::AssertionSuccess();
  }
  if (a == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << where << ": " << a.description() << " != " << b.description();
}

}  // namespace platform::testing_support
