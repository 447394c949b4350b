#include "platform/foundation/Value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "NumberScanner_p.h"
#include "platform/foundation/Assertion.h"
#include "platform/foundation/Object.h"

namespace platform {

struct Value::Heap {
  std::string text;
  Bytes bytes;
  Array array;
  Dictionary dictionary;
};

namespace {

const std::string kEmptyString;
const Value::Bytes kEmptyBytes;
const Value::Array kEmptyArray;
const Value::Dictionary kEmptyDictionary;
const std::shared_ptr<Object> kNoObject;
const Value kNone;

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// Real to integer as the hardware converts: toward zero, saturating, NaN to 0.
template <typename Int>
Int saturatingCast(double value) {
  if (std::isnan(value)) return 0;
  const double truncated = std::trunc(value);
  if (truncated <= static_cast<double>(std::numeric_limits<Int>::min())) {
    return std::numeric_limits<Int>::min();
  }
  // The maximum of a 64-bit type rounds up to 2^63 as a double, so compare with >=.
  if (truncated >= static_cast<double>(std::numeric_limits<Int>::max())) {
    return std::numeric_limits<Int>::max();
  }
  return static_cast<Int>(truncated);
}

// Exact comparison of a stored integer with a real: no rounding of either side.
bool integerEqualsReal(std::uint64_t bits, bool isUnsigned, double real) {
  if (std::isnan(real) || std::trunc(real) != real) return false;
  if (isUnsigned) {
    if (real < kTwoTo63 || real >= kTwoTo64) return false;
    return static_cast<std::uint64_t>(real) == bits;
  }
  if (real < -kTwoTo63 || real >= kTwoTo63) return false;
  return static_cast<std::int64_t>(real) == static_cast<std::int64_t>(bits);
}

std::string formatReal(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string formatDate(double secondsSince2001) {
  const double unix = secondsSince2001 + 978307200.0;
  if (!std::isfinite(unix) || std::fabs(unix) > 1e15) return formatReal(secondsSince2001);
  const auto seconds = static_cast<std::time_t>(std::floor(unix));
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
  return buffer;
}

// Strings inside containers are quoted unless they consist of characters that need none,
// as the platform's description of a collection does.
std::string quotedIfNeeded(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '.' || c == '$' || c == '/' || c == ':';
    if (!safe) plain = false;
  }
  if (plain) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

void describe(const Value& value, int depth, std::string& out);

void indent(int depth, std::string& out) {
  out.append(static_cast<std::size_t>(depth) * 4, ' ');
}

void describeNested(const Value& value, int depth, std::string& out) {
  if (value.isString()) {
    out += quotedIfNeeded(value.stringValue());
  } else {
    describe(value, depth, out);
  }
}

void describe(const Value& value, int depth, std::string& out) {
  switch (value.kind()) {
    case ValueKind::None:
      out += "(null)";
      return;
    case ValueKind::Null:
      out += "<null>";
      return;
    case ValueKind::Boolean:
      out += value.booleanValue() ? "1" : "0";
      return;
    case ValueKind::Integer:
      out += value.isUnsignedInteger() ? std::to_string(value.unsignedBits())
                                       : std::to_string(value.integerBits());
      return;
    case ValueKind::Real:
      out += formatReal(value.realValue());
      return;
    case ValueKind::String:
      out += value.stringValue();
      return;
    case ValueKind::Date:
      out += formatDate(value.dateValue());
      return;
    case ValueKind::Data: {
      static constexpr char kHex[] = "0123456789abcdef";
      out += '<';
      const auto& bytes = value.dataValue();
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) out += ' ';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
      }
      out += '>';
      return;
    }
    case ValueKind::Array: {
      out += "(\n";
      const auto& items = value.arrayValue();
      for (std::size_t i = 0; i < items.size(); ++i) {
        indent(depth + 1, out);
        describeNested(items[i], depth + 1, out);
        out += i + 1 < items.size() ? ",\n" : "\n";
      }
      indent(depth, out);
      out += ')';
      return;
    }
    case ValueKind::Dictionary: {
      out += "{\n";
      for (const auto& [key, item] : value.dictionaryValue()) {
        indent(depth + 1, out);
        out += quotedIfNeeded(key);
        out += " = ";
        describeNested(item, depth + 1, out);
        out += ";\n";
      }
      indent(depth, out);
      out += '}';
      return;
    }
    case ValueKind::Object: {
      const auto& object = value.objectValue();
      char address[32];
      std::snprintf(address, sizeof address, "%p", static_cast<const void*>(object.get()));
      out += '<';
      out += object ? object->objectClass().name() : "nil";
      out += ": ";
      out += address;
      out += '>';
      return;
    }
  }
}

}  // namespace

Value::Value(const Value& other)
    : kind_(other.kind_),
      unsigned_(other.unsigned_),
      flag_(other.flag_),
      bits_(other.bits_),
      real_(other.real_),
      heap_(other.leaked_ && other.heap_ ? std::make_shared<const Heap>(*other.heap_)
                                         : other.heap_),
      object_(other.object_) {}

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Value::Value(Value&& other) noexcept
    : kind_(other.kind_),
      unsigned_(other.unsigned_),
      flag_(other.flag_),
      bits_(other.bits_),
      real_(other.real_),
      heap_(std::move(other.heap_)),
      object_(std::move(other.object_)),
      leaked_(other.leaked_) {
  other.kind_ = ValueKind::None;
  other.leaked_ = false;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    kind_ = other.kind_;
    unsigned_ = other.unsigned_;
    flag_ = other.flag_;
    bits_ = other.bits_;
    real_ = other.real_;
    heap_ = std::move(other.heap_);
    object_ = std::move(other.object_);
    leaked_ = other.leaked_;
    other.kind_ = ValueKind::None;
    other.leaked_ = false;
  }
  return *this;
}

Value::~Value() = default;

Value::Value(const char* text) {
  if (text != nullptr) *this = string(text);
}
Value::Value(std::string text) {
  *this = string(std::move(text));
}
Value::Value(std::string_view text) {
  *this = string(std::string(text));
}
Value::Value(Array items) {
  *this = array(std::move(items));
}
Value::Value(Dictionary entries) {
  *this = dictionary(std::move(entries));
}

Value Value::null() {
  Value v;
  v.kind_ = ValueKind::Null;
  return v;
}

Value Value::boolean(bool flag) {
  Value v;
  v.kind_ = ValueKind::Boolean;
  v.flag_ = flag;
  return v;
}

Value Value::integer(std::int64_t number) {
  Value v;
  v.kind_ = ValueKind::Integer;
  v.bits_ = static_cast<std::uint64_t>(number);
  return v;
}

Value Value::unsignedInteger(std::uint64_t number) {
  Value v;
  v.kind_ = ValueKind::Integer;
  v.bits_ = number;
  v.unsigned_ = number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  return v;
}

Value Value::real(double number) {
  Value v;
  v.kind_ = ValueKind::Real;
  v.real_ = number;
  return v;
}

Value Value::string(std::string text) {
  Value v;
  v.kind_ = ValueKind::String;
  v.ownHeap().text = std::move(text);
  return v;
}

Value Value::data(Bytes bytes) {
  Value v;
  v.kind_ = ValueKind::Data;
  v.ownHeap().bytes = std::move(bytes);
  return v;
}

Value Value::date(double secondsSince2001) {
  Value v;
  v.kind_ = ValueKind::Date;
  v.real_ = secondsSince2001;
  return v;
}

Value Value::array(Array items) {
  Value v;
  v.kind_ = ValueKind::Array;
  v.ownHeap().array = std::move(items);
  return v;
}

Value Value::dictionary(Dictionary entries) {
  Value v;
  v.kind_ = ValueKind::Dictionary;
  v.ownHeap().dictionary = std::move(entries);
  return v;
}

Value Value::object(std::shared_ptr<Object> object) {
  Value v;
  v.kind_ = ValueKind::Object;
  v.object_ = std::move(object);
  return v;
}

Value::Heap& Value::ownHeap() {
  if (!heap_) {
    heap_ = std::make_shared<const Heap>();
  } else if (heap_.use_count() > 1) {
    heap_ = std::make_shared<const Heap>(*heap_);
  }
  // The heap is reachable from this value alone here, so writing through it is safe.
  return const_cast<Heap&>(*heap_);
}

bool Value::isNumber() const {
  return kind_ == ValueKind::Integer || kind_ == ValueKind::Real || kind_ == ValueKind::Boolean;
}

bool Value::isPropertyList() const {
  switch (kind_) {
    case ValueKind::Boolean:
    case ValueKind::Integer:
    case ValueKind::Real:
    case ValueKind::String:
    case ValueKind::Data:
    case ValueKind::Date:
      return true;
    case ValueKind::Array:
      for (const auto& item : arrayValue()) {
        if (!item.isPropertyList()) return false;
      }
      return true;
    case ValueKind::Dictionary:
      for (const auto& [key, item] : dictionaryValue()) {
        if (!item.isPropertyList()) return false;
      }
      return true;
    case ValueKind::None:
    case ValueKind::Null:
    case ValueKind::Object:
      return false;
  }
  return false;
}

std::int64_t Value::integerBits() const {
  if (kind_ == ValueKind::Integer) return static_cast<std::int64_t>(bits_);
  if (kind_ == ValueKind::Boolean) return flag_ ? 1 : 0;
  return 0;
}

std::uint64_t Value::unsignedBits() const {
  return static_cast<std::uint64_t>(integerBits());
}

bool Value::respondsToNumberAccessors() const {
  return isNumber() || isString();
}

std::optional<bool> Value::boolValue() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return flag_;
    case ValueKind::Integer:
      return bits_ != 0;
    // Zero is NO and any other value YES; NaN, which is no value, is NO.
    case ValueKind::Real:
      return real_ != 0.0 && !std::isnan(real_);
    case ValueKind::String:
      return scan::boolValue(stringValue());
    default:
      return std::nullopt;
  }
}

std::optional<std::int32_t> Value::intValue() const {
  switch (kind_) {
    case ValueKind::Boolean:
    case ValueKind::Integer:
      // A C cast to 32 bits keeps the low bits: unsigned 4294967295 gives -1.
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(unsignedBits()));
    case ValueKind::Real:
      return saturatingCast<std::int32_t>(real_);
    case ValueKind::String:
      return static_cast<std::int32_t>(
          scan::integerValue(stringValue(), std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max()));
    default:
      return std::nullopt;
  }
}

std::optional<std::int64_t> Value::integerValue() const {
  switch (kind_) {
    case ValueKind::Boolean:
    case ValueKind::Integer:
      return integerBits();
    case ValueKind::Real:
      return saturatingCast<std::int64_t>(real_);
    case ValueKind::String:
      return scan::integerValue(stringValue(), std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max());
    default:
      return std::nullopt;
  }
}

std::optional<double> Value::doubleValue() const {
  switch (kind_) {
    case ValueKind::Boolean:
      return flag_ ? 1.0 : 0.0;
    case ValueKind::Integer:
      return unsigned_ ? static_cast<double>(bits_)
                       : static_cast<double>(static_cast<std::int64_t>(bits_));
    case ValueKind::Real:
      return real_;
    case ValueKind::String:
      return scan::doubleValue(stringValue());
    default:
      return std::nullopt;
  }
}

std::optional<float> Value::floatValue() const {
  switch (kind_) {
    // Integers narrow straight to float (one rounding), as a C cast does.
    case ValueKind::Integer:
      return unsigned_ ? static_cast<float>(bits_)
                       : static_cast<float>(static_cast<std::int64_t>(bits_));
    default: {
      auto value = doubleValue();
      if (!value) return std::nullopt;
      return static_cast<float>(*value);
    }
  }
}

const std::string& Value::stringValue() const {
  return kind_ == ValueKind::String && heap_ ? heap_->text : kEmptyString;
}

const Value::Bytes& Value::dataValue() const {
  return kind_ == ValueKind::Data && heap_ ? heap_->bytes : kEmptyBytes;
}

double Value::dateValue() const {
  return kind_ == ValueKind::Date ? real_ : 0.0;
}
double Value::realValue() const {
  return kind_ == ValueKind::Real ? real_ : 0.0;
}
bool Value::booleanValue() const {
  return kind_ == ValueKind::Boolean && flag_;
}

const Value::Array& Value::arrayValue() const {
  return kind_ == ValueKind::Array && heap_ ? heap_->array : kEmptyArray;
}

const Value::Dictionary& Value::dictionaryValue() const {
  return kind_ == ValueKind::Dictionary && heap_ ? heap_->dictionary : kEmptyDictionary;
}

Value::Array& Value::mutableArray() {
  HX_ASSERT(isArray(), "mutableArray", description(), "Value", __LINE__,
            std::string("not an array: ") + valueKindName(kind_));
  if (!isArray()) {
    thread_local Array scratch;
    scratch.clear();
    return scratch;
  }
  leaked_ = true;
  return ownHeap().array;
}

Value::Dictionary& Value::mutableDictionary() {
  HX_ASSERT(isDictionary(), "mutableDictionary", description(), "Value", __LINE__,
            std::string("not a dictionary: ") + valueKindName(kind_));
  if (!isDictionary()) {
    thread_local Dictionary scratch;
    scratch.clear();
    return scratch;
  }
  leaked_ = true;
  return ownHeap().dictionary;
}

const std::shared_ptr<Object>& Value::objectValue() const {
  return kind_ == ValueKind::Object ? object_ : kNoObject;
}

const Value& Value::operator[](std::string_view key) const {
  const auto& entries = dictionaryValue();
  auto it = entries.find(key);
  return it == entries.end() ? kNone : it->second;
}

const Value& Value::operator[](std::size_t index) const {
  const auto& items = arrayValue();
  return index < items.size() ? items[index] : kNone;
}

Value Value::valueForKey(std::string_view key) const {
  if (!isDictionary()) return {};
  if (!key.empty() && key.front() == '@') {
    // The '@' sends the rest of the key to the dictionary itself.
    const std::string_view property = key.substr(1);
    const auto& entries = dictionaryValue();
    if (property == "count") return integer(static_cast<std::int64_t>(entries.size()));
    if (property == "allKeys") {
      Array keys;
      for (const auto& [name, item] : entries) keys.emplace_back(name);
      return array(std::move(keys));
    }
    if (property == "allValues") {
      Array items;
      for (const auto& [name, item] : entries) items.push_back(item);
      return array(std::move(items));
    }
    return {};
  }
  return (*this)[key];
}

bool operator==(const Value& a, const Value& b) {
  if (a.isNumber() && b.isNumber()) {
    // Booleans compare as the numbers 0 and 1.
    const bool aReal = a.kind_ == ValueKind::Real;
    const bool bReal = b.kind_ == ValueKind::Real;
    if (aReal && bReal) {
      return a.real_ == b.real_ || (std::isnan(a.real_) && std::isnan(b.real_));
    }
    if (aReal) return integerEqualsReal(b.unsignedBits(), b.isUnsignedInteger(), a.real_);
    if (bReal) return integerEqualsReal(a.unsignedBits(), a.isUnsignedInteger(), b.real_);
    return a.unsignedBits() == b.unsignedBits() && a.isUnsignedInteger() == b.isUnsignedInteger();
  }
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case ValueKind::None:
    case ValueKind::Null:
      return true;
    case ValueKind::String:
      return a.stringValue() == b.stringValue();
    case ValueKind::Data:
      return a.dataValue() == b.dataValue();
    case ValueKind::Date:
      return a.real_ == b.real_ || (std::isnan(a.real_) && std::isnan(b.real_));
    case ValueKind::Array:
      return a.heap_ == b.heap_ || a.arrayValue() == b.arrayValue();
    case ValueKind::Dictionary:
      return a.heap_ == b.heap_ || a.dictionaryValue() == b.dictionaryValue();
    case ValueKind::Object:
      return a.object_ == b.object_;
    default:
      return false;
  }
}

std::string Value::description() const {
  std::string out;
  describe(*this, 0, out);
  return out;
}

const char* valueKindName(ValueKind kind) {
  switch (kind) {
    case ValueKind::None:
      return "none";
    case ValueKind::Null:
      return "null";
    case ValueKind::Boolean:
      return "boolean";
    case ValueKind::Integer:
      return "integer";
    case ValueKind::Real:
      return "real";
    case ValueKind::String:
      return "string";
    case ValueKind::Data:
      return "data";
    case ValueKind::Date:
      return "date";
    case ValueKind::Array:
      return "array";
    case ValueKind::Dictionary:
      return "dictionary";
    case ValueKind::Object:
      return "object";
  }
  return "unknown";
}

}  // namespace platform
