// A property-list value with value semantics: what crosses every boundary of the system
// (preference domains, notifications, plists, the list-page host). A copy is a private copy;
// nothing aliases except object references, which the list-page host alone uses.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Export.h"

namespace platform {

class Object;

enum class ValueKind {
  None,     // absent: no value at all (nil)
  Null,     // the null marker (NSNull); not a property-list kind
  Boolean,  // its own kind, yet it answers every number accessor
  Integer,  // signed 64-bit, or unsigned 64-bit above INT64_MAX
  Real,     // double
  String,   // UTF-8 text, compared byte for byte (as UTF-16 code units would be)
  Data,     // bytes
  Date,     // seconds since 2001-01-01T00:00:00Z
  Array,
  Dictionary,  // string keys
  Object,      // a reference to a runtime object; not a property-list kind
};

class HX_PLATFORM_EXPORT Value {
 public:
  using Array = std::vector<Value>;
  using Dictionary = std::map<std::string, Value, std::less<>>;
  using Bytes = std::vector<std::uint8_t>;

  Value() = default;  // None
  // A copy never aliases the original: containers, text and bytes are shared until either
  // side changes them. A value whose container was handed out through mutableArray() or
  // mutableDictionary() is copied deeply, since the reference may still write through.
  Value(const Value& other);
  Value& operator=(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  ~Value();
  Value(const char* text);       // NOLINT: String (nullptr gives None)
  Value(std::string text);       // NOLINT: String
  Value(std::string_view text);  // NOLINT: String
  Value(Array items);            // NOLINT: Array
  Value(Dictionary entries);     // NOLINT: Dictionary

  static Value null();
  static Value boolean(bool flag);
  static Value integer(std::int64_t number);
  // Values up to INT64_MAX are stored signed (as the platform stores an unsigned 32-bit
  // number); only larger ones keep the unsigned flag.
  static Value unsignedInteger(std::uint64_t number);
  static Value real(double number);
  static Value string(std::string text);
  static Value data(Bytes bytes);
  static Value date(double secondsSince2001);
  static Value array(Array items = {});
  static Value dictionary(Dictionary entries = {});
  static Value object(std::shared_ptr<Object> object);

  ValueKind kind() const { return kind_; }
  bool isNone() const { return kind_ == ValueKind::None; }
  bool isNull() const { return kind_ == ValueKind::Null; }
  bool isBoolean() const { return kind_ == ValueKind::Boolean; }
  bool isInteger() const { return kind_ == ValueKind::Integer; }
  bool isReal() const { return kind_ == ValueKind::Real; }
  // True for integers, reals and booleans (a boolean is a number to its callers).
  bool isNumber() const;
  bool isString() const { return kind_ == ValueKind::String; }
  bool isData() const { return kind_ == ValueKind::Data; }
  bool isDate() const { return kind_ == ValueKind::Date; }
  bool isArray() const { return kind_ == ValueKind::Array; }
  bool isDictionary() const { return kind_ == ValueKind::Dictionary; }
  bool isObject() const { return kind_ == ValueKind::Object; }
  // True for the kinds a plist file or the bus can carry (containers checked deeply).
  bool isPropertyList() const;
  explicit operator bool() const { return kind_ != ValueKind::None; }

  // Integer storage: true only for an unsigned value above INT64_MAX.
  bool isUnsignedInteger() const { return kind_ == ValueKind::Integer && unsigned_; }
  // The stored bits of an integer (or boolean 0/1); 0 for any other kind.
  std::int64_t integerBits() const;
  std::uint64_t unsignedBits() const;

  // Lenient conversions, exactly as Foundation's NSNumber and NSString accessors answer.
  // Numbers (booleans included) and strings answer; every other kind, None included, does
  // not, and the result is empty so that the caller takes its own fallback.
  bool respondsToNumberAccessors() const;
  std::optional<bool> boolValue() const;
  std::optional<std::int32_t> intValue() const;
  std::optional<std::int64_t> integerValue() const;
  std::optional<float> floatValue() const;
  std::optional<double> doubleValue() const;

  // Direct access. Each returns the empty/zero answer for another kind.
  const std::string& stringValue() const;  // "" unless a string
  const Bytes& dataValue() const;
  double dateValue() const;   // seconds since 2001; 0 unless a date
  double realValue() const;   // the stored real; 0 unless a real
  bool booleanValue() const;  // the stored flag; false unless a boolean
  const Array& arrayValue() const;
  // The value's own container, valid until the value is next assigned, moved or destroyed.
  // REQUIRES: isArray() (otherwise reported to the assertion handler; when it returns, the
  // reference is to a scratch container and the value is left unchanged).
  Array& mutableArray();
  const Dictionary& dictionaryValue() const;
  // As mutableArray(). REQUIRES: isDictionary()
  Dictionary& mutableDictionary();
  const std::shared_ptr<Object>& objectValue() const;

  // Dictionary lookup; None when absent or not a dictionary.
  const Value& operator[](std::string_view key) const;
  // Array element; None when out of range or not an array.
  const Value& operator[](std::size_t index) const;
  // Key-value lookup as NSDictionary's valueForKey: answers: a key starting with '@' asks
  // the dictionary itself ("@count" gives the entry count), any other key is objectForKey:.
  Value valueForKey(std::string_view key) const;

  // Foundation's isEqual:. Numbers compare by value across storage (1 == 1.0; YES equals
  // only a number whose value is exactly 1), strings literally, a string never equals a
  // number, containers element by element, objects by identity. A NaN real or date equals
  // NaN, so that every value equals its own copy.
  friend HX_PLATFORM_EXPORT bool operator==(const Value& a, const Value& b);

  // A short description in the style of the platform's %@, for log lines and messages.
  std::string description() const;

 private:
  ValueKind kind_ = ValueKind::None;
  bool unsigned_ = false;
  bool flag_ = false;
  std::uint64_t bits_ = 0;
  double real_ = 0;
  // Text, bytes and containers share one heap slot; copies deep-copy it.
  struct Heap;
  std::shared_ptr<const Heap> heap_;  // never mutated while shared: copy-on-write
  std::shared_ptr<Object> object_;
  // Set once a mutable reference into the heap was handed out: from then on copies take a
  // private heap, so writes through that reference reach this value alone.
  bool leaked_ = false;

  Heap& ownHeap();
};

HX_PLATFORM_EXPORT const char* valueKindName(ValueKind kind);

}  // namespace platform
