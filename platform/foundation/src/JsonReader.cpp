#include <locale.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "Utf8_p.h"
#include "platform/foundation/Json.h"

namespace platform {
namespace {

constexpr int kMaximumDepth = 256;

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::optional<Value> read() {
    auto result = value(0);
    skipSpace();
    if (!result || pos_ != text_.size()) return std::nullopt;
    return result;
  }

 private:
  void skipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<Value> value(int depth) {
    if (depth > kMaximumDepth) return std::nullopt;
    skipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    switch (text_[pos_]) {
      case '{':
        return object(depth);
      case '[':
        return array(depth);
      case '"': {
        auto text = string();
        if (!text) return std::nullopt;
        return Value::string(std::move(*text));
      }
      case 't':
        return literal("true") ? std::optional(Value::boolean(true)) : std::nullopt;
      case 'f':
        return literal("false") ? std::optional(Value::boolean(false)) : std::nullopt;
      case 'n':
        return literal("null") ? std::optional(Value::null()) : std::nullopt;
      default:
        return number();
    }
  }

  std::optional<Value> object(int depth) {
    ++pos_;
    Value::Dictionary entries;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return Value::dictionary();
    }
    while (true) {
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
      auto key = string();
      if (!key) return std::nullopt;
      skipSpace();
      if (pos_ >= text_.size() || text_[pos_] != ':') return std::nullopt;
      ++pos_;
      auto item = value(depth + 1);
      if (!item) return std::nullopt;
      entries.insert_or_assign(std::move(*key), std::move(*item));
      skipSpace();
      if (pos_ >= text_.size()) return std::nullopt;
      if (text_[pos_] == '}') {
        ++pos_;
        return Value::dictionary(std::move(entries));
      }
      if (text_[pos_] != ',') return std::nullopt;
      ++pos_;
    }
  }

  std::optional<Value> array(int depth) {
    ++pos_;
    Value::Array items;
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return Value::array();
    }
    while (true) {
      auto item = value(depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      skipSpace();
      if (pos_ >= text_.size()) return std::nullopt;
      if (text_[pos_] == ']') {
        ++pos_;
        return Value::array(std::move(items));
      }
      if (text_[pos_] != ',') return std::nullopt;
      ++pos_;
    }
  }

  std::optional<unsigned> hex4() {
    if (pos_ + 4 > text_.size()) return std::nullopt;
    unsigned unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') {
        unit |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        unit |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        unit |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    return unit;
  }

  std::optional<std::string> string() {
    ++pos_;  // the opening quote
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (c == '\\') {
        if (++pos_ >= text_.size()) return std::nullopt;
        const char escape = text_[pos_++];
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
            auto unit = hex4();
            if (!unit) return std::nullopt;
            char32_t cp = *unit;
            if (cp >= 0xDC00 && cp <= 0xDFFF) return std::nullopt;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              if (!literal("\\u")) return std::nullopt;
              auto low = hex4();
              if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
              cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
            }
            utf8::append(out, cp);
            break;
          }
          default:
            return std::nullopt;
        }
        continue;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      const std::size_t start = pos_;
      if (utf8::next(text_, pos_) == utf8::kInvalid) return std::nullopt;
      out.append(text_.substr(start, pos_ - start));
    }
    return std::nullopt;
  }

  std::optional<Value> number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ - from;
    };
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const std::size_t integerStart = pos_;
    const std::size_t integerDigits = digits();
    if (integerDigits == 0 || (integerDigits > 1 && text_[integerStart] == '0')) {
      return std::nullopt;
    }
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
    const std::string token(text_.substr(start, pos_ - start));
    if (integral) {
      errno = 0;
      char* end = nullptr;
      if (token[0] == '-') {
        const long long number = std::strtoll(token.c_str(), &end, 10);
        if (errno == 0) return Value::integer(number);
      } else {
        const unsigned long long number = std::strtoull(token.c_str(), &end, 10);
        if (errno == 0) return Value::unsignedInteger(number);
      }
      // Beyond 64 bits: a real, as any JSON reader without big integers takes it.
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const double number = strtod_l(token.c_str(), nullptr, cLocale);
    if (std::isinf(number)) return std::nullopt;
    return Value::real(number);
  }

  const std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Value> parseJson(std::string_view text) {
  return JsonReader(text).read();
}

}  // namespace platform
