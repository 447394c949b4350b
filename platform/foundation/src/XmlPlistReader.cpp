// The XML property-list reader. It is our own rather than libplist's because the scalar rules
// matter to stored settings: "010" is ten, junk after a number or an empty number is an
// error, and a key without a value or a second root makes the document unreadable.
#include <cmath>
#include <limits>
#include <string>

#include "Base64_p.h"
#include "CivilTime_p.h"
#include "NumberScanner_p.h"
#include "PlistFormats_p.h"
#include "platform/foundation/Utf8.h"

namespace platform::plist {
namespace {

bool isXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == ':' || c == '.' || c == '-';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// <integer>: spaces, an optional sign, spaces, then decimal digits or 0x and hex digits, and
// nothing after them. Leading zeros are decimal. Out of the 64-bit range is an error.
std::optional<Value> parseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isXmlSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
    while (i < text.size() && isXmlSpace(text[i])) ++i;
  }
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
      return std::nullopt;
    }
    magnitude = magnitude * base + digit;
  }
  if (negative) {
    if (magnitude > (std::uint64_t{1} << 63)) return std::nullopt;
    return Value::integer(magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1);
  }
  return Value::unsignedInteger(magnitude);
}

// <real>: the named infinities and NaN in any case, or text the lenient real scan consumes
// completely.
std::optional<Value> parseReal(std::string_view text) {
  const double inf = std::numeric_limits<double>::infinity();
  if (equalsIgnoringCase(text, "nan")) return Value::real(std::numeric_limits<double>::quiet_NaN());
  for (std::string_view word : {"inf", "+inf", "infinity", "+infinity"}) {
    if (equalsIgnoringCase(text, word)) return Value::real(inf);
  }
  for (std::string_view word : {"-inf", "-infinity"}) {
    if (equalsIgnoringCase(text, word)) return Value::real(-inf);
  }
  std::size_t consumed = 0;
  const double number = scan::doubleValue(text, &consumed);
  if (consumed == 0 || consumed != text.size()) return std::nullopt;
  return Value::real(number);
}

class XmlReader {
 public:
  explicit XmlReader(std::string_view text) : text_(text) {}

  std::optional<Value> read() {
    if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    if (!wellFormedCharacters()) return std::nullopt;
    skipMisc();
    Tag tag;
    if (!readStartTag(tag)) return std::nullopt;
    std::optional<Value> root;
    if (tag.name == "plist") {
      if (tag.selfClosing) return std::nullopt;
      skipMisc();
      root = value(0);
      if (!root) return std::nullopt;
      skipMisc();
      if (!readEndTag("plist")) return std::nullopt;
    } else {
      root = element(tag, 0);
      if (!root) return std::nullopt;
    }
    // Nothing but comments and processing instructions may follow the one root.
    skipMisc();
    if (pos_ != text_.size()) return std::nullopt;
    return root;
  }

 private:
  struct Tag {
    std::string name;
    bool selfClosing = false;
  };

  // The whole document must be UTF-8 without the control characters XML forbids.
  bool wellFormedCharacters() const {
    for (std::size_t i = pos_; i < text_.size();) {
      const char32_t cp = utf8::nextCodePoint(text_, i);
      if (cp == utf8::kInvalid) return false;
      if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return false;
      if (cp == 0xFFFE || cp == 0xFFFF) return false;
    }
    return true;
  }

  bool startsWith(std::string_view prefix) const { return text_.substr(pos_).starts_with(prefix); }

  bool skipPast(std::string_view terminator) {
    const std::size_t end = text_.find(terminator, pos_);
    if (end == std::string_view::npos) {
      pos_ = text_.size();
      return false;
    }
    pos_ = end + terminator.size();
    return true;
  }

  // Whitespace, comments, processing instructions and the document type declaration.
  void skipMisc() {
    while (pos_ < text_.size()) {
      if (isXmlSpace(text_[pos_])) {
        ++pos_;
      } else if (startsWith("<?")) {
        skipPast("?>");
      } else if (startsWith("<!--")) {
        skipPast("-->");
      } else if (startsWith("<!DOCTYPE")) {
        int brackets = 0;
        for (; pos_ < text_.size(); ++pos_) {
          const char c = text_[pos_];
          if (c == '[') ++brackets;
          if (c == ']') --brackets;
          if (c == '>' && brackets <= 0) {
            ++pos_;
            break;
          }
        }
      } else {
        return;
      }
    }
  }

  bool readStartTag(Tag& tag) {
    if (!startsWith("<") || startsWith("</")) return false;
    ++pos_;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && isNameCharacter(text_[pos_])) ++pos_;
    tag.name = std::string(text_.substr(start, pos_ - start));
    if (tag.name.empty()) return false;
    // Attributes (the plist version) are allowed and ignored.
    while (pos_ < text_.size()) {
      while (pos_ < text_.size() && isXmlSpace(text_[pos_])) ++pos_;
      if (startsWith("/>")) {
        pos_ += 2;
        tag.selfClosing = true;
        return true;
      }
      if (startsWith(">")) {
        ++pos_;
        return true;
      }
      const std::size_t nameStart = pos_;
      while (pos_ < text_.size() && isNameCharacter(text_[pos_])) ++pos_;
      if (pos_ == nameStart) return false;
      while (pos_ < text_.size() && isXmlSpace(text_[pos_])) ++pos_;
      if (!startsWith("=")) return false;
      ++pos_;
      while (pos_ < text_.size() && isXmlSpace(text_[pos_])) ++pos_;
      if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) return false;
      const char quote = text_[pos_++];
      const std::size_t end = text_.find(quote, pos_);
      if (end == std::string_view::npos) return false;
      pos_ = end + 1;
    }
    return false;
  }

  bool readEndTag(std::string_view name) {
    if (!startsWith("</")) return false;
    pos_ += 2;
    if (!startsWith(name)) return false;
    pos_ += name.size();
    while (pos_ < text_.size() && isXmlSpace(text_[pos_])) ++pos_;
    if (!startsWith(">")) return false;
    ++pos_;
    return true;
  }

  // Character data up to the end tag of `name`, with entities and CDATA sections resolved.
  std::optional<std::string> text(const Tag& tag) {
    if (tag.selfClosing) return std::string();
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '&') {
        if (!entity(out)) return std::nullopt;
      } else if (c != '<') {
        out += c;
        ++pos_;
      } else if (startsWith("<![CDATA[")) {
        pos_ += 9;
        const std::size_t end = text_.find("]]>", pos_);
        if (end == std::string_view::npos) return std::nullopt;
        out.append(text_.substr(pos_, end - pos_));
        pos_ = end + 3;
      } else if (startsWith("<!--")) {
        if (!skipPast("-->")) return std::nullopt;
      } else if (startsWith("</")) {
        if (!readEndTag(tag.name)) return std::nullopt;
        return out;
      } else {
        return std::nullopt;  // an element inside text
      }
    }
    return std::nullopt;
  }

  bool entity(std::string& out) {
    const std::size_t end = text_.find(';', pos_);
    if (end == std::string_view::npos || end - pos_ > 12) return false;
    const std::string_view name = text_.substr(pos_ + 1, end - pos_ - 1);
    pos_ = end + 1;
    if (name == "lt") return out += '<', true;
    if (name == "gt") return out += '>', true;
    if (name == "amp") return out += '&', true;
    if (name == "quot") return out += '"', true;
    if (name == "apos") return out += '\'', true;
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    char32_t cp = 0;
    for (char c : digits) {
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return false;
      }
      cp = cp * (hex ? 16 : 10) + digit;
      if (cp > 0x10FFFF) return false;
    }
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    utf8::append(out, cp);
    return true;
  }

  std::optional<Value> value(int depth) {
    skipMisc();
    Tag tag;
    if (!readStartTag(tag)) return std::nullopt;
    return element(tag, depth);
  }

  std::optional<Value> element(const Tag& tag, int depth) {
    if (depth > kMaximumDepth) return std::nullopt;
    const std::string& name = tag.name;
    if (name == "dict") return dictionary(tag, depth);
    if (name == "array") return array(tag, depth);
    if (name == "true" || name == "false") {
      if (!tag.selfClosing) {
        skipMisc();
        if (!readEndTag(name)) return std::nullopt;
      }
      return Value::boolean(name == "true");
    }
    std::optional<std::string> content = text(tag);
    if (!content) return std::nullopt;
    if (name == "string") return Value::string(std::move(*content));
    if (name == "integer") return parseInteger(*content);
    if (name == "real") return parseReal(*content);
    if (name == "date") {
      const auto seconds = civil::parseIso8601(*content);
      if (!seconds) return std::nullopt;
      return Value::date(static_cast<double>(*seconds));
    }
    if (name == "data") {
      auto bytes = base64::decodeLenient(*content);
      if (!bytes) return std::nullopt;
      return Value::data(std::move(*bytes));
    }
    return std::nullopt;  // unknown element, or a key outside a dictionary
  }

  std::optional<Value> array(const Tag& tag, int depth) {
    Value::Array items;
    if (!tag.selfClosing) {
      while (true) {
        skipMisc();
        if (startsWith("</")) {
          if (!readEndTag("array")) return std::nullopt;
          break;
        }
        auto item = value(depth + 1);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
      }
    }
    return Value::array(std::move(items));
  }

  std::optional<Value> dictionary(const Tag& tag, int depth) {
    Value::Dictionary entries;
    if (!tag.selfClosing) {
      while (true) {
        skipMisc();
        if (startsWith("</")) {
          if (!readEndTag("dict")) return std::nullopt;
          break;
        }
        Tag keyTag;
        if (!readStartTag(keyTag) || keyTag.name != "key") return std::nullopt;
        auto key = text(keyTag);
        if (!key) return std::nullopt;
        skipMisc();
        if (startsWith("</")) return std::nullopt;  // a key without a value
        auto item = value(depth + 1);
        if (!item) return std::nullopt;
        entries.insert_or_assign(std::move(*key), std::move(*item));
      }
    }
    return Value::dictionary(std::move(entries));
  }

  const std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<Value> parseXml(std::string_view text) {
  return XmlReader(text).read();
}

}  // namespace platform::plist
