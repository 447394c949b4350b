#include "ValueParser.h"

#include <locale.h>
#include <cerrno>

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "platform/foundation/DateText.h"
#include "platform/foundation/OldStyleText.h"
#include "platform/foundation/PropertyList.h"

using platform::Value;

namespace defaults {
namespace {

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

std::optional<Value> parseHexData(const std::string& text) {
  // The text form's data without its brackets, and without the spaces it would allow there.
  if (text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return std::nullopt;
  return platform::parseOldStyleText("<" + text + ">");
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
     [](const std::string& t) { return platform::parseDate(t); }},
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
  return platform::parseOldStyleText(text);
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
