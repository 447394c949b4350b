#include "platform/foundation/Json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "Base64_p.h"
#include "CivilTime_p.h"

namespace platform {
namespace {

using nlohmann::json;

constexpr std::size_t kMaximumContainers = 257;  // the outermost one and 256 levels inside it

// Builds a Value straight from the parser's events, so that integers keep their signed or
// unsigned storage, a repeated key keeps its last value and nesting stops at the limit
// before anything deeper is built.
class ValueBuilder final : public nlohmann::json_sax<json> {
 public:
  std::optional<Value> take() { return std::move(root_); }

  bool null() override { return add(Value::null()); }
  bool boolean(bool flag) override { return add(Value::boolean(flag)); }
  bool number_integer(number_integer_t number) override { return add(Value::integer(number)); }
  bool number_unsigned(number_unsigned_t number) override {
    // The parser hands every non-negative integer over as unsigned; only those beyond
    // INT64_MAX keep the unsigned storage, as the plist readers do.
    if (number <= static_cast<std::uint64_t>(INT64_MAX)) {
      return add(Value::integer(static_cast<std::int64_t>(number)));
    }
    return add(Value::unsignedInteger(number));
  }
  bool number_float(number_float_t number, const string_t&) override {
    return add(Value::real(number));
  }
  bool string(string_t& text) override { return add(Value::string(std::move(text))); }
  bool binary(binary_t&) override { return false; }  // JSON text has no binary values

  bool start_object(std::size_t) override { return open(true); }
  bool key(string_t& name) override {
    frames_.back().key = std::move(name);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(false); }
  bool end_array() override { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  struct Frame {
    bool isObject = false;
    Value::Array items;
    Value::Dictionary entries;
    std::string key;
  };

  bool open(bool isObject) {
    if (frames_.size() >= kMaximumContainers) return false;
    frames_.push_back(Frame{isObject, {}, {}, {}});
    return true;
  }

  bool close() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(frame.isObject ? Value::dictionary(std::move(frame.entries))
                              : Value::array(std::move(frame.items)));
  }

  bool add(Value value) {
    if (frames_.empty()) {
      root_ = std::move(value);
    } else if (Frame& top = frames_.back(); top.isObject) {
      top.entries.insert_or_assign(std::move(top.key), std::move(value));
    } else {
      top.items.push_back(std::move(value));
    }
    return true;
  }

  std::vector<Frame> frames_;
  std::optional<Value> root_;
};

std::string isoDate(double seconds) {
  auto text = civil::formatIso8601(seconds);
  if (!text) return {};
  const double fraction = seconds - std::floor(seconds);
  const int milliseconds = std::clamp(static_cast<int>(std::floor(fraction * 1000.0)), 0, 999);
  if (milliseconds > 0) {
    const char digits[] = {'.', static_cast<char>('0' + milliseconds / 100),
                           static_cast<char>('0' + milliseconds / 10 % 10),
                           static_cast<char>('0' + milliseconds % 10)};
    text->insert(text->size() - 1, digits, sizeof digits);
  }
  return *text;
}

json toDocument(const Value& value) {
  switch (value.kind()) {
    case ValueKind::Boolean:
      return value.booleanValue();
    case ValueKind::Integer:
      if (value.isUnsignedInteger()) return value.unsignedBits();
      return value.integerBits();
    case ValueKind::Real:
      // JSON has no NaN or infinities; the library writes them as null.
      return value.realValue();
    case ValueKind::String:
      return value.stringValue();
    case ValueKind::Data:
      return base64::encode(value.dataValue());
    case ValueKind::Date: {
      std::string text = isoDate(value.dateValue());
      if (text.empty()) return nullptr;
      return text;
    }
    case ValueKind::Array: {
      json items = json::array();
      for (const auto& item : value.arrayValue()) items.push_back(toDocument(item));
      return items;
    }
    case ValueKind::Dictionary: {
      json entries = json::object();
      for (const auto& [key, item] : value.dictionaryValue()) entries[key] = toDocument(item);
      return entries;
    }
    case ValueKind::None:
    case ValueKind::Null:
    case ValueKind::Object:
      return nullptr;
  }
  return nullptr;
}

}  // namespace

std::string toJson(const Value& value) {
  // ASCII only, with every invalid UTF-8 byte written as U+FFFD.
  return toDocument(value).dump(-1, ' ', true, json::error_handler_t::replace);
}

std::optional<Value> parseJson(std::string_view text) {
  // The parser skips a byte-order mark, which RFC 8259 forbids a sender to add.
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") return std::nullopt;
  ValueBuilder builder;
  if (!json::sax_parse(text.begin(), text.end(), &builder, json::input_format_t::json,
                       /*strict=*/true, /*ignore_comments=*/false)) {
    return std::nullopt;
  }
  return builder.take();
}

}  // namespace platform
