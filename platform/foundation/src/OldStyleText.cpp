#include "platform/foundation/OldStyleText.h"

#include <cstdint>

#include "platform/foundation/Utf8.h"

namespace platform {
namespace {

constexpr int kMaximumDepth = 512;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isBare(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.' || c == '$' || c == ':' || c == '/' || c == '-' || c == '+';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void appendCharacter(std::string& out, char32_t codePoint) {
  utf8::append(out, codePoint == 0 ? utf8::kReplacementCharacter : codePoint);
}

}  // namespace

bool OldStyleTextReader::skipSpaceAndComments() {
  while (!atEnd()) {
    const char c = peek();
    if (isSpace(c)) {
      ++position_;
    } else if (c == '/' && peek(1) == '*') {
      const std::size_t close = text_.find("*/", position_ + 2);
      if (close == std::string_view::npos) return false;
      position_ = close + 2;
    } else if (c == '/' && peek(1) == '/') {
      const std::size_t newline = text_.find('\n', position_ + 2);
      position_ = newline == std::string_view::npos ? text_.size() : newline + 1;
    } else {
      break;
    }
  }
  return true;
}

bool OldStyleTextReader::accept(char c) {
  if (!skipSpaceAndComments() || atEnd() || peek() != c) return false;
  ++position_;
  return true;
}

std::optional<std::string> OldStyleTextReader::readString() {
  const char c = peek();
  std::string out;
  if (c == '"' || c == '\'') {
    if (!readQuoted(c, out)) return std::nullopt;
    return out;
  }
  const std::size_t start = position_;
  while (!atEnd() && isBare(peek())) ++position_;
  if (position_ == start) return std::nullopt;
  return std::string(text_.substr(start, position_ - start));
}

std::optional<Value> OldStyleTextReader::readValue(int depth) {
  if (depth > kMaximumDepth || !skipSpaceAndComments() || atEnd()) return std::nullopt;
  switch (peek()) {
    case '(':
      return readArray(depth);
    case '{':
      return readDictionary(depth);
    case '<':
      return readData();
    default: {
      auto text = readString();
      if (!text) return std::nullopt;
      return Value(std::move(*text));
    }
  }
}

std::optional<Value> OldStyleTextReader::readArray(int depth) {
  ++position_;
  Value::Array items;
  if (accept(')')) return Value::array();
  while (true) {
    auto item = readValue(depth + 1);
    if (!item) return std::nullopt;
    items.push_back(std::move(*item));
    if (accept(')')) break;
    if (!accept(',')) return std::nullopt;
    if (accept(')')) break;  // a trailing comma
  }
  return Value::array(std::move(items));
}

std::optional<Value> OldStyleTextReader::readDictionary(int depth) {
  ++position_;
  Value::Dictionary entries;
  while (!accept('}')) {
    if (!skipSpaceAndComments()) return std::nullopt;
    auto key = readString();
    if (!key || !accept('=')) return std::nullopt;
    auto item = readValue(depth + 1);
    if (!item || !accept(';')) return std::nullopt;
    entries.insert_or_assign(std::move(*key), std::move(*item));
  }
  return Value::dictionary(std::move(entries));
}

std::optional<Value> OldStyleTextReader::readData() {
  ++position_;
  Value::Bytes bytes;
  int high = -1;
  for (; !atEnd(); ++position_) {
    const char c = peek();
    if (c == '>') {
      ++position_;
      if (high >= 0) return std::nullopt;
      return Value::data(std::move(bytes));
    }
    if (isSpace(c)) continue;
    const int digit = hexDigit(c);
    if (digit < 0) return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return std::nullopt;
}

// Up to four hex digits after \U or \u; none when there is not even one.
std::optional<std::uint32_t> OldStyleTextReader::readUnicodeEscape() {
  std::uint32_t unit = 0;
  int digits = 0;
  while (digits < 4 && hexDigit(peek()) >= 0) {
    unit = unit * 16 + static_cast<std::uint32_t>(hexDigit(peek()));
    ++position_;
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  return unit;
}

bool OldStyleTextReader::readQuoted(char quote, std::string& out) {
  ++position_;  // the opening quote
  while (true) {
    if (atEnd()) return false;
    const char c = text_[position_++];
    if (c == quote) return true;
    if (c == '\\') {
      if (atEnd()) return false;
      readEscape(out);
    } else if (c == '\0') {
      appendCharacter(out, 0);
    } else {
      out.push_back(c);
    }
  }
}

// The escape after a backslash; REQUIRES: !atEnd().
void OldStyleTextReader::readEscape(std::string& out) {
  static constexpr std::string_view kNamed = "ntrabfv";
  static constexpr std::string_view kMeant = "\n\t\r\a\b\f\v";
  const char e = text_[position_++];
  if (const std::size_t named = kNamed.find(e); named != std::string_view::npos) {
    out.push_back(kMeant[named]);
  } else if (e == 'U' || e == 'u') {
    const auto unit = readUnicodeEscape();
    if (!unit) {
      out.push_back(e);
      return;
    }
    char32_t codePoint = *unit;
    if (utf8::isHighSurrogate(codePoint)) {
      const std::size_t saved = position_;
      std::optional<std::uint32_t> low;
      if (peek() == '\\' && (peek(1) == 'U' || peek(1) == 'u')) {
        position_ += 2;
        low = readUnicodeEscape();
      }
      if (low && utf8::isLowSurrogate(*low)) {
        codePoint = utf8::combineSurrogates(codePoint, *low);
      } else {
        position_ = saved;
      }
    }
    appendCharacter(out, codePoint);
  } else if (e >= '0' && e <= '7') {
    std::uint32_t value = static_cast<std::uint32_t>(e - '0');
    for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7'; ++i) {
      value = value * 8 + static_cast<std::uint32_t>(text_[position_++] - '0');
    }
    appendCharacter(out, value);
  } else {
    // \" \' \\ and any other character stand for themselves.
    if (e == '\0') {
      appendCharacter(out, 0);
    } else {
      out.push_back(e);
    }
  }
}

std::optional<Value> parseOldStyleText(std::string_view text) {
  OldStyleTextReader reader(text);
  auto value = reader.readValue();
  if (!value || !reader.skipSpaceAndComments() || !reader.atEnd()) return std::nullopt;
  return value;
}

}  // namespace platform
