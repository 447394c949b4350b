#include <cstring>

#include "platform/preferences/PreferenceStore.h"

namespace platform {

namespace {

bool identicalDoubles(double a, double b) {
  // Bit patterns, so that 0.0 and -0.0 differ and a NaN matches itself.
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

bool identicalPropertyLists(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case ValueKind::None:
    case ValueKind::Null:
      return true;
    case ValueKind::Boolean:
      return a.booleanValue() == b.booleanValue();
    case ValueKind::Integer:
      return a.isUnsignedInteger() == b.isUnsignedInteger() && a.integerBits() == b.integerBits();
    case ValueKind::Real:
      return identicalDoubles(a.realValue(), b.realValue());
    case ValueKind::Date:
      return identicalDoubles(a.dateValue(), b.dateValue());
    case ValueKind::String:
      return a.stringValue() == b.stringValue();
    case ValueKind::Data:
      return a.dataValue() == b.dataValue();
    case ValueKind::Array: {
      const Value::Array& left = a.arrayValue();
      const Value::Array& right = b.arrayValue();
      if (left.size() != right.size()) return false;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (!identicalPropertyLists(left[i], right[i])) return false;
      }
      return true;
    }
    case ValueKind::Dictionary: {
      const Value::Dictionary& left = a.dictionaryValue();
      const Value::Dictionary& right = b.dictionaryValue();
      if (left.size() != right.size()) return false;
      for (auto l = left.begin(), r = right.begin(); l != left.end(); ++l, ++r) {
        if (l->first != r->first || !identicalPropertyLists(l->second, r->second)) return false;
      }
      return true;
    }
    case ValueKind::Object:
      return a.objectValue() == b.objectValue();
  }
  return false;
}

}  // namespace platform
