#include "platform/workspace/StringsFile.h"

#include <cstdint>
#include <string>

#include "Unicode_p.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Utf8.h"
#include "platform/foundation/Value.h"

namespace platform {
namespace {

// A NUL would cut a name short wherever it reaches C strings (the bus, Pango, the page), so
// every form of the file (an escape, a raw character, a property-list string) turns it into
// U+FFFD here, where all entries enter the table.
std::string withoutNul(std::string text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  for (std::size_t at = text.find('\0'); at != std::string::npos;
       at = text.find('\0', at + kReplacement.size())) {
    text.replace(at, 1, kReplacement);
  }
  return text;
}

void addEntry(StringsTable& table, std::string key, std::string value) {
  table.insert_or_assign(withoutNul(std::move(key)), withoutNul(std::move(value)));
}

// The text form of a strings file, after decoding to UTF-8.
class StringsTextParser {
 public:
  explicit StringsTextParser(std::string_view text) : text_(text) {}

  std::optional<StringsTable> parse() {
    StringsTable table;
    while (true) {
      if (!skipSpaceAndComments()) return std::nullopt;
      if (atEnd()) return table;
      std::string key;
      if (!readToken(key)) return std::nullopt;
      if (!skipSpaceAndComments() || atEnd()) return std::nullopt;
      if (peek() == ';') {
        ++position_;
        addEntry(table, key, key);
        continue;
      }
      if (peek() != '=') return std::nullopt;
      ++position_;
      if (!skipSpaceAndComments() || atEnd()) return std::nullopt;
      std::string value;
      if (!readToken(value)) return std::nullopt;
      if (!skipSpaceAndComments() || atEnd() || peek() != ';') return std::nullopt;
      ++position_;
      addEntry(table, std::move(key), std::move(value));
    }
  }

 private:
  bool atEnd() const { return position_ >= text_.size(); }
  char peek(std::size_t ahead = 0) const {
    return position_ + ahead < text_.size() ? text_[position_ + ahead] : '\0';
  }

  // False only for a comment that never closes.
  bool skipSpaceAndComments() {
    while (!atEnd()) {
      const char c = peek();
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
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

  static bool isUnquotedCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '$' || c == ':' || c == '/' || c == '-';
  }

  bool readToken(std::string& out) {
    const char c = peek();
    if (c == '"' || c == '\'') return readQuoted(c, out);
    const std::size_t start = position_;
    while (!atEnd() && isUnquotedCharacter(peek())) ++position_;
    if (position_ == start) return false;
    out.assign(text_.substr(start, position_ - start));
    return true;
  }

  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Up to four hex digits after \U or \u; none when there is not even one.
  std::optional<std::uint32_t> readUnicodeEscape() {
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

  bool readQuoted(char quote, std::string& out) {
    ++position_;  // the opening quote
    out.clear();
    while (true) {
      if (atEnd()) return false;
      const char c = text_[position_++];
      if (c == quote) return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (atEnd()) return false;
      const char e = text_[position_++];
      switch (e) {
        case 'n':
          out.push_back('\n');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 'a':
          out.push_back('\a');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'v':
          out.push_back('\v');
          break;
        case 'U':
        case 'u': {
          auto unit = readUnicodeEscape();
          if (!unit) {
            out.push_back(e);
            break;
          }
          char32_t codePoint = *unit;
          if (utf8::isHighSurrogate(codePoint)) {
            // A pair spells one character; a lone half becomes the replacement character.
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
          utf8::append(out, codePoint);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            std::uint32_t value = static_cast<std::uint32_t>(e - '0');
            for (int i = 0; i < 2 && peek() >= '0' && peek() <= '7'; ++i) {
              value = value * 8 + static_cast<std::uint32_t>(text_[position_++] - '0');
            }
            utf8::append(out, value);
          } else {
            // \" \' \\ and any other character stand for themselves.
            out.push_back(e);
          }
      }
    }
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

std::optional<StringsTable> tableFromPropertyList(std::string_view bytes) {
  auto root = parsePropertyList(bytes);
  if (!root || !root->isDictionary()) return std::nullopt;
  StringsTable table;
  for (const auto& [key, value] : root->dictionaryValue()) {
    if (value.isString()) addEntry(table, key, value.stringValue());
  }
  return table;
}

bool looksLikeXml(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && text[first] == '<';
}

}  // namespace

std::optional<StringsTable> parseStringsFile(std::string_view bytes) {
  if (bytes.starts_with("bplist")) return tableFromPropertyList(bytes);
  auto text = decodeTextToUtf8(bytes);
  if (!text) return std::nullopt;
  if (looksLikeXml(*text)) return tableFromPropertyList(*text);
  return StringsTextParser(*text).parse();
}

}  // namespace platform
