#include "ValueParser.h"

#include <locale.h>
#include <cerrno>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>

#include "platform/foundation/PropertyList.h"

using platform::Value;

namespace defaults {
namespace {

// The old-style text form. It has no numbers, booleans or dates: every scalar is a string.
class OldStyleReader {
 public:
  explicit OldStyleReader(std::string_view text) : text_(text) {}

  std::optional<Value> read() {
    auto result = value(0);
    skipSpace();
    if (!result || pos_ != text_.size()) return std::nullopt;
    return result;
  }

 private:
  static constexpr int kMaximumDepth = 512;

  static bool isBare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
  }

  void skipSpace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        const auto end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else if (text_.substr(pos_, 2) == "/*") {
        const auto end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return;  // left for the caller to refuse
        pos_ = end + 2;
      } else {
        return;
      }
    }
  }

  bool accept(char c) {
    skipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::optional<Value> value(int depth) {
    if (depth > kMaximumDepth) return std::nullopt;
    skipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    const char c = text_[pos_];
    if (c == '{') return dictionary(depth);
    if (c == '(') return array(depth);
    if (c == '<') return data();
    auto text = string();
    if (!text) return std::nullopt;
    return Value(std::move(*text));
  }

  std::optional<Value> dictionary(int depth) {
    ++pos_;
    Value::Dictionary entries;
    while (!accept('}')) {
      auto key = string();
      if (!key || !accept('=')) return std::nullopt;
      auto item = value(depth + 1);
      if (!item || !accept(';')) return std::nullopt;
      entries.insert_or_assign(std::move(*key), std::move(*item));
    }
    return Value::dictionary(std::move(entries));
  }

  std::optional<Value> array(int depth) {
    ++pos_;
    Value::Array items;
    if (accept(')')) return Value::array();
    while (true) {
      auto item = value(depth + 1);
      if (!item) return std::nullopt;
      items.push_back(std::move(*item));
      if (accept(')')) break;
      if (!accept(',')) return std::nullopt;
      if (accept(')')) break;  // a trailing comma
    }
    return Value::array(std::move(items));
  }

  std::optional<Value> data() {
    ++pos_;
    Value::Bytes bytes;
    int high = -1;
    for (; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == '>') {
        ++pos_;
        if (high >= 0) return std::nullopt;
        return Value::data(std::move(bytes));
      }
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
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

  std::optional<std::string> string() {
    skipSpace();
    if (pos_ >= text_.size()) return std::nullopt;
    if (text_[pos_] != '"') {
      const std::size_t start = pos_;
      while (pos_ < text_.size() && isBare(text_[pos_])) ++pos_;
      if (pos_ == start) return std::nullopt;
      return std::string(text_.substr(start, pos_ - start));
    }
    ++pos_;
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      switch (const char escape = text_[pos_++]) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        default:
          out += escape;  // \" \\ and any other character stand for themselves
      }
    }
    return std::nullopt;
  }

 public:
  static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

 private:
  const std::string_view text_;
  std::size_t pos_ = 0;
};

std::optional<Value> parseXmlLiteral(std::string_view text) {
  std::string document(text);
  if (!text.starts_with("<?xml") && !text.starts_with("<!DOCTYPE") && !text.starts_with("<plist")) {
    document = "<plist version=\"1.0\">" + document + "</plist>";
  }
  return platform::parsePropertyList(document);
}

std::optional<Value> parseInteger(const std::string& text) {
  if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  char* end = nullptr;
  if (text[0] == '-') {
    const long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return Value::integer(number);
  }
  const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return Value::unsignedInteger(number);
}

std::optional<Value> parseReal(const std::string& text) {
  if (text.empty() || text.find_first_not_of("+-0123456789.eE") != std::string::npos) {
    return std::nullopt;
  }
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  char* end = nullptr;
  const double number = strtod_l(text.c_str(), &end, cLocale);
  if (*end != '\0' || !std::isfinite(number)) return std::nullopt;
  return Value::real(number);
}

std::optional<Value> parseBoolean(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (text == "true" || text == "yes" || text == "1") return Value::boolean(true);
  if (text == "false" || text == "no" || text == "0") return Value::boolean(false);
  return std::nullopt;
}

// Reads exactly `count` decimal digits at `pos`, moving past them.
std::optional<int> digits(std::string_view text, std::size_t& pos, std::size_t count) {
  if (pos + count > text.size()) return std::nullopt;
  int number = 0;
  for (std::size_t end = pos + count; pos < end; ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return std::nullopt;
    number = number * 10 + (text[pos] - '0');
  }
  return number;
}

bool skip(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

std::optional<Value> parseHexData(const std::string& text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Value::Bytes bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = OldStyleReader::hexDigit(text[i]);
    const int low = OldStyleReader::hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return Value::data(std::move(bytes));
}

struct Scalar {
  std::string_view flag;
  std::string_view what;
  std::optional<Value> (*parse)(const std::string&);
};

const Scalar kScalars[] = {
    {"-string", "text", [](const std::string& t) -> std::optional<Value> { return Value(t); }},
    {"-int", "an integer", parseInteger},
    {"-integer", "an integer", parseInteger},
    {"-float", "a finite number", parseReal},
    {"-bool", "true, false, yes, no, 1 or 0", [](const std::string& t) { return parseBoolean(t); }},
    {"-boolean", "true, false, yes, no, 1 or 0",
     [](const std::string& t) { return parseBoolean(t); }},
    {"-date", "a date as YYYY-MM-DD hh:mm:ss +0000 or YYYY-MM-DDThh:mm:ssZ",
     [](const std::string& t) { return parseDate(t); }},
    {"-data", "hexadecimal bytes", parseHexData},
};

const Scalar* scalarFor(std::string_view flag) {
  for (const Scalar& scalar : kScalars) {
    if (scalar.flag == flag) return &scalar;
  }
  return nullptr;
}

// Reads one item at `index`: a type flag with its text or one plist literal.
std::optional<Value> readItem(const std::vector<std::string>& words, std::size_t& index,
                              std::string& error) {
  const std::string& word = words[index++];
  if (const Scalar* scalar = scalarFor(word)) {
    if (index >= words.size()) {
      error = word + " needs a value";
      return std::nullopt;
    }
    const std::string& text = words[index++];
    auto value = scalar->parse(text);
    if (!value) error = "\"" + text + "\" is not " + std::string(scalar->what) + " (" + word + ")";
    return value;
  }
  if (auto value = parsePlistLiteral(word)) return value;
  // Text that does not open a dictionary, array, data or quoted string is taken as it is,
  // so that "write D K hello world" needs no quotes inside the shell's.
  const auto first = word.find_first_not_of(" \t\n\r");
  if (first == std::string::npos ||
      std::string_view("{(<\"").find(word[first]) == std::string_view::npos) {
    return Value(word);
  }
  error = "\"" + word + "\" is not a property-list value";
  return std::nullopt;
}

ParsedWrite failure(std::string error) {
  return ParsedWrite{std::nullopt, std::move(error)};
}

}  // namespace

std::optional<Value> parseDate(std::string_view text) {
  std::size_t pos = 0;
  const auto year = digits(text, pos, 4);
  if (!year || !skip(text, pos, '-')) return std::nullopt;
  const auto month = digits(text, pos, 2);
  if (!month || !skip(text, pos, '-')) return std::nullopt;
  const auto day = digits(text, pos, 2);
  const bool iso = skip(text, pos, 'T');
  if (!day || (!iso && !skip(text, pos, ' '))) return std::nullopt;
  const auto hour = digits(text, pos, 2);
  if (!hour || !skip(text, pos, ':')) return std::nullopt;
  const auto minute = digits(text, pos, 2);
  if (!minute || !skip(text, pos, ':')) return std::nullopt;
  const auto second = digits(text, pos, 2);
  if (!second) return std::nullopt;
  int offsetMinutes = 0;
  if (iso) {
    if (!skip(text, pos, 'Z')) return std::nullopt;
  } else {
    if (!skip(text, pos, ' ')) return std::nullopt;
    const int sign = skip(text, pos, '+') ? 1 : skip(text, pos, '-') ? -1 : 0;
    const auto offsetHours = digits(text, pos, 2);
    const auto offsetRest = digits(text, pos, 2);
    if (sign == 0 || !offsetHours || !offsetRest || *offsetHours > 23 || *offsetRest > 59) {
      return std::nullopt;
    }
    offsetMinutes = sign * (*offsetHours * 60 + *offsetRest);
  }
  if (pos != text.size() || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year),
                                         std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) return std::nullopt;
  constexpr std::int64_t kUnixSecondsAt2001 = 978307200;
  const std::int64_t unix =
      std::chrono::sys_days(date).time_since_epoch().count() * std::int64_t{86400} + *hour * 3600 +
      *minute * 60 + *second - std::int64_t{offsetMinutes} * 60;
  return Value::date(static_cast<double>(unix - kUnixSecondsAt2001));
}

std::optional<Value> parsePlistLiteral(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() &&
         (text[start] == ' ' || text[start] == '\n' || text[start] == '\t')) {
    ++start;
  }
  const std::string_view rest = text.substr(start);
  // "<0a1b>" is data in the text form; "<integer>" or "<?xml" opens XML.
  if (rest.size() > 1 && rest[0] == '<' &&
      (std::isalpha(static_cast<unsigned char>(rest[1])) || rest[1] == '?' || rest[1] == '!')) {
    const bool hexOnly =
        rest.find_first_not_of("0123456789abcdefABCDEF \t\n\r", 1) == rest.find('>');
    if (!hexOnly) return parseXmlLiteral(rest);
  }
  return OldStyleReader(text).read();
}

ParsedWrite parseWriteArguments(const std::vector<std::string>& words) {
  if (words.empty()) return failure("write needs a value");
  const std::string& first = words[0];
  WriteMode mode = WriteMode::Replace;
  if (first == "-array" || first == "-array-add") {
    mode = first == "-array" ? WriteMode::Replace : WriteMode::ArrayAdd;
    Value::Array items;
    std::string error;
    for (std::size_t index = 1; index < words.size();) {
      auto item = readItem(words, index, error);
      if (!item) return failure(error);
      items.push_back(std::move(*item));
    }
    return ParsedWrite{WriteRequest{Value::array(std::move(items)), mode}, {}};
  }
  if (first == "-dict" || first == "-dict-add") {
    mode = first == "-dict" ? WriteMode::Replace : WriteMode::DictionaryAdd;
    Value::Dictionary entries;
    std::string error;
    for (std::size_t index = 1; index < words.size();) {
      std::string key = words[index++];
      if (key == "-string") {
        if (index >= words.size()) return failure("-string needs a value");
        key = words[index++];
      }
      if (index >= words.size())
        return failure("the key \"" + key + "\" of " + first + " has no value");
      auto item = readItem(words, index, error);
      if (!item) return failure(error);
      entries.insert_or_assign(std::move(key), std::move(*item));
    }
    return ParsedWrite{WriteRequest{Value::dictionary(std::move(entries)), mode}, {}};
  }
  std::size_t index = 0;
  std::string error;
  auto value = readItem(words, index, error);
  if (!value) return failure(error);
  if (index != words.size()) return failure("unexpected \"" + words[index] + "\" after the value");
  return ParsedWrite{WriteRequest{std::move(*value), mode}, {}};
}

std::string typeName(const Value& value) {
  switch (value.kind()) {
    case platform::ValueKind::Boolean:
      return "boolean";
    case platform::ValueKind::Integer:
      return "integer";
    case platform::ValueKind::Real:
      return "float";
    case platform::ValueKind::String:
      return "string";
    case platform::ValueKind::Data:
      return "data";
    case platform::ValueKind::Date:
      return "date";
    case platform::ValueKind::Array:
      return "array";
    case platform::ValueKind::Dictionary:
      return "dictionary";
    default:
      return "unknown";
  }
}

}  // namespace defaults
