#include "platform/workspace/StringsFile.h"

#include <string>

#include "Unicode_p.h"
#include "platform/foundation/OldStyleText.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Value.h"

namespace platform {
namespace {

// A NUL would cut a name short wherever it reaches C strings (the bus, Pango, the page). The
// text reader already turns every NUL form into U+FFFD; a property-list string can still hold one.
std::string withoutNul(std::string text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  for (std::size_t at = text.find('\0'); at != std::string::npos;
       at = text.find('\0', at + kReplacement.size())) {
    text.replace(at, 1, kReplacement);
  }
  return text;
}

// The text form of a strings file, after decoding to UTF-8: `key = value;` pairs of strings,
// or `key;` for a value that is its key.
std::optional<StringsTable> parseStringsText(std::string_view text) {
  OldStyleTextReader reader(text);
  StringsTable table;
  while (true) {
    if (!reader.skipSpaceAndComments()) return std::nullopt;
    if (reader.atEnd()) return table;
    auto key = reader.readString();
    if (!key) return std::nullopt;
    if (reader.accept(';')) {
      table.insert_or_assign(*key, *key);
      continue;
    }
    if (!reader.accept('=') || !reader.skipSpaceAndComments()) return std::nullopt;
    auto value = reader.readString();
    if (!value || !reader.accept(';')) return std::nullopt;
    table.insert_or_assign(std::move(*key), std::move(*value));
  }
}

std::optional<StringsTable> tableFromPropertyList(std::string_view bytes) {
  auto root = parsePropertyList(bytes);
  if (!root || !root->isDictionary()) return std::nullopt;
  StringsTable table;
  for (const auto& [key, value] : root->dictionaryValue()) {
    if (value.isString()) table.insert_or_assign(withoutNul(key), withoutNul(value.stringValue()));
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
  return parseStringsText(*text);
}

}  // namespace platform
