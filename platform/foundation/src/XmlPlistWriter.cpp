// The XML property-list writer, in the platform's layout: tab indentation, empty containers as
// <dict/> and <array/>, dates in whole seconds.
#include <charconv>
#include <cmath>

#include "Base64_p.h"
#include "CivilTime_p.h"
#include "PlistFormats_p.h"
#include "platform/foundation/Utf8.h"

namespace platform::plist {
namespace {

constexpr std::string_view kHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

class XmlWriter {
 public:
  std::optional<std::string> write(const Value& root) {
    out_ = kHeader;
    if (!element(root, 0)) return std::nullopt;
    out_ += "</plist>\n";
    return std::move(out_);
  }

 private:
  void indent(int depth) { out_.append(static_cast<std::size_t>(depth), '\t'); }

  // Escapes markup characters, and a carriage return as a reference so that a reader's line
  // ending normalisation cannot turn it into a line feed. Fails on invalid UTF-8 and on
  // characters XML cannot carry.
  bool appendEscaped(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t start = i;
      const char32_t cp = utf8::nextCodePoint(text, i);
      if (cp == utf8::kInvalid || cp == 0xFFFE || cp == 0xFFFF) return false;
      if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return false;
      switch (cp) {
        case '<':
          out_ += "&lt;";
          break;
        case '>':
          out_ += "&gt;";
          break;
        case '&':
          out_ += "&amp;";
          break;
        case '\r':
          out_ += "&#13;";
          break;
        default:
          out_.append(text, start, i - start);
      }
    }
    return true;
  }

  bool textElement(std::string_view name, const std::string& text, int depth) {
    indent(depth);
    out_ += '<';
    out_ += name;
    out_ += '>';
    if (!appendEscaped(text)) return false;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
    return true;
  }

  void scalar(std::string_view name, std::string_view text, int depth) {
    indent(depth);
    out_ += '<';
    out_ += name;
    out_ += '>';
    out_ += text;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
  }

  static std::string formatReal(double number) {
    if (std::isnan(number)) return "nan";
    if (std::isinf(number)) return number > 0 ? "+infinity" : "-infinity";
    char buffer[64];
    // The shortest text that reads back as the same double.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
  }

  bool element(const Value& value, int depth) {
    if (depth > kMaximumDepth) return false;
    switch (value.kind()) {
      case ValueKind::Boolean:
        indent(depth);
        out_ += value.booleanValue() ? "<true/>\n" : "<false/>\n";
        return true;
      case ValueKind::Integer:
        scalar("integer",
               value.isUnsignedInteger() ? std::to_string(value.unsignedBits())
                                         : std::to_string(value.integerBits()),
               depth);
        return true;
      case ValueKind::Real:
        scalar("real", formatReal(value.realValue()), depth);
        return true;
      case ValueKind::Date: {
        const auto text = civil::formatIso8601(value.dateValue());
        if (!text) return false;  // no four-digit year can express it
        scalar("date", *text, depth);
        return true;
      }
      case ValueKind::Data: {
        indent(depth);
        out_ += "<data>\n";
        const std::string encoded = base64::encode(value.dataValue());
        for (std::size_t i = 0; i < encoded.size(); i += 76) {
          indent(depth);
          out_.append(encoded, i, 76);
          out_ += '\n';
        }
        indent(depth);
        out_ += "</data>\n";
        return true;
      }
      case ValueKind::String:
        return textElement("string", value.stringValue(), depth);
      case ValueKind::Array: {
        indent(depth);
        if (value.arrayValue().empty()) {
          out_ += "<array/>\n";
          return true;
        }
        out_ += "<array>\n";
        for (const auto& item : value.arrayValue()) {
          if (!element(item, depth + 1)) return false;
        }
        indent(depth);
        out_ += "</array>\n";
        return true;
      }
      case ValueKind::Dictionary: {
        indent(depth);
        if (value.dictionaryValue().empty()) {
          out_ += "<dict/>\n";
          return true;
        }
        out_ += "<dict>\n";
        for (const auto& [key, item] : value.dictionaryValue()) {
          if (!textElement("key", key, depth + 1) || !element(item, depth + 1)) return false;
        }
        indent(depth);
        out_ += "</dict>\n";
        return true;
      }
      default:
        return false;
    }
  }

  std::string out_;
};

}  // namespace

std::optional<std::string> writeXml(const Value& value) {
  return XmlWriter().write(value);
}

}  // namespace platform::plist
