#include "ActionJson.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace settingsapp {
namespace {

using platform::Value;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<Value> document() {
    auto value = parseValue(0);
    skipSpace();
    if (!value || pos_ != text_.size()) return std::nullopt;
    return value;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool consume(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<Value> parseValue(std::size_t depth) {
    if (depth > kMaxJsonDepth) return std::nullopt;
    skipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    char c = text_[pos_];
    if (c == '{') return parseObject(depth);
    if (c == '[') return parseArray(depth);
    if (c == '"') {
      auto text = parseString();
      if (!text) return std::nullopt;
      return Value(std::move(*text));
    }
    if (consume("true")) return Value::boolean(true);
    if (consume("false")) return Value::boolean(false);
    if (consume("null")) return Value::null();
    if (c == '-' || (c >= '0' && c <= '9')) return parseNumber();
    return std::nullopt;
  }

  std::optional<Value> parseObject(std::size_t depth) {
    ++pos_;
    Value::Dictionary entries;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return Value(std::move(entries));
    }
    while (true) {
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
      auto key = parseString();
      if (!key) return std::nullopt;
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return std::nullopt;
      ++pos_;
      auto value = parseValue(depth + 1);
      if (!value) return std::nullopt;
      entries.insert_or_assign(std::move(*key), std::move(*value));
      skipSpace();
      if (pos_ >= text_.size()) return std::nullopt;
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == '}') {
        ++pos_;
        return Value(std::move(entries));
      }
      return std::nullopt;
    }
  }

  std::optional<Value> parseArray(std::size_t depth) {
    ++pos_;
    Value::Array items;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return Value(std::move(items));
    }
    while (true) {
      auto value = parseValue(depth + 1);
      if (!value) return std::nullopt;
      items.push_back(std::move(*value));
      skipSpace();
      if (pos_ >= text_.size()) return std::nullopt;
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == ']') {
        ++pos_;
        return Value(std::move(items));
      }
      return std::nullopt;
    }
  }

  std::optional<unsigned> hex4() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, value, 16);
    if (error != std::errc() || end != text_.data() + pos_ + 4) return std::nullopt;
    pos_ += 4;
    return value;
  }

  static void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xc0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xe0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
      out += static_cast<char>(0xf0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
      out += static_cast<char>(0x80 | (code & 0x3f));
    }
  }

  std::optional<std::string> parseString() {
    ++pos_;  // the opening quote
    std::string out;
    while (pos_ < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return out;
      if (c < 0x20) return std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          auto code = hex4();
          if (!code) return std::nullopt;
          std::uint32_t point = *code;
          if (point >= 0xdc00 && point <= 0xdfff) return std::nullopt;
          if (point >= 0xd800 && point <= 0xdbff) {
            if (!consume("\\u")) return std::nullopt;
            auto low = hex4();
            if (!low || *low < 0xdc00 || *low > 0xdfff) return std::nullopt;
            point = 0x10000 + ((point - 0xd800) << 10) + (*low - 0xdc00);
          }
          appendUtf8(out, point);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<Value> parseNumber() {
    const std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    auto digits = [&] {
      std::size_t first = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - first;
    };
    const std::size_t integerStart = pos_;
    if (digits() == 0) return std::nullopt;
    if (text_[integerStart] == '0' && pos_ - integerStart > 1) return std::nullopt;
    bool integral = true;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      integral = false;
      if (digits() == 0) return std::nullopt;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      integral = false;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (digits() == 0) return std::nullopt;
    }
    std::string_view number = text_.substr(start, pos_ - start);
    if (integral) {
      std::int64_t value = 0;
      auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
      if (error == std::errc() && end == number.data() + number.size())
        return Value::integer(value);
    }
    double real = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), real);
    if (error != std::errc() || end != number.data() + number.size()) {
      return std::nullopt;
    }
    if (!std::isfinite(real)) return std::nullopt;
    return Value::real(real);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<platform::Value> parseActionJson(std::string_view text) {
  return Reader(text).document();
}

}  // namespace settingsapp
