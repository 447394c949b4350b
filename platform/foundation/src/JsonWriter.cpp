#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "Base64_p.h"
#include "CivilTime_p.h"
#include "Utf8_p.h"
#include "platform/foundation/Json.h"

namespace platform {
namespace {

void appendEscape(std::string& out, unsigned unit) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

void appendString(std::string& out, std::string_view text) {
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = utf8::next(text, i);
    if (cp == utf8::kInvalid) cp = 0xFFFD;
    switch (cp) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\b':
        out += "\\b";
        continue;
      case '\f':
        out += "\\f";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (cp >= 0x20 && cp < 0x7F) {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      appendEscape(out, static_cast<unsigned>(cp));
    } else {
      const char32_t offset = cp - 0x10000;
      appendEscape(out, static_cast<unsigned>(0xD800 + (offset >> 10)));
      appendEscape(out, static_cast<unsigned>(0xDC00 + (offset & 0x3FF)));
    }
  }
  out += '"';
}

void appendReal(std::string& out, double number) {
  if (!std::isfinite(number)) {
    out += "null";
    return;
  }
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  out += text;
  // "1" would read back as an integer.
  if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendDate(std::string& out, double seconds) {
  auto text = civil::formatIso8601(seconds);
  if (!text) {
    out += "null";
    return;
  }
  const double fraction = seconds - std::floor(seconds);
  const int milliseconds = std::clamp(static_cast<int>(std::floor(fraction * 1000.0)), 0, 999);
  if (milliseconds > 0) {
    const char digits[] = {'.', static_cast<char>('0' + milliseconds / 100),
                           static_cast<char>('0' + milliseconds / 10 % 10),
                           static_cast<char>('0' + milliseconds % 10)};
    text->insert(text->size() - 1, digits, sizeof digits);
  }
  appendString(out, *text);
}

void append(std::string& out, const Value& value) {
  switch (value.kind()) {
    case ValueKind::Boolean:
      out += value.booleanValue() ? "true" : "false";
      return;
    case ValueKind::Integer:
      out += value.isUnsignedInteger() ? std::to_string(value.unsignedBits())
                                       : std::to_string(value.integerBits());
      return;
    case ValueKind::Real:
      appendReal(out, value.realValue());
      return;
    case ValueKind::String:
      appendString(out, value.stringValue());
      return;
    case ValueKind::Data:
      appendString(out, base64::encode(value.dataValue()));
      return;
    case ValueKind::Date:
      appendDate(out, value.dateValue());
      return;
    case ValueKind::Array: {
      out += '[';
      bool first = true;
      for (const auto& item : value.arrayValue()) {
        if (!first) out += ',';
        first = false;
        append(out, item);
      }
      out += ']';
      return;
    }
    case ValueKind::Dictionary: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : value.dictionaryValue()) {
        if (!first) out += ',';
        first = false;
        appendString(out, key);
        out += ':';
        append(out, item);
      }
      out += '}';
      return;
    }
    case ValueKind::None:
    case ValueKind::Null:
    case ValueKind::Object:
      out += "null";
      return;
  }
}

}  // namespace

std::string toJson(const Value& value) {
  std::string out;
  append(out, value);
  return out;
}

}  // namespace platform
