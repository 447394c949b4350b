// The values halvex-defaults writes, from its command line: a type flag with its text
// (-string, -int, -float, -bool, -date, -data), a list (-array, -dict and their -add forms), or
// a property-list literal in the old-style text form or in XML. Pure functions; they touch no
// file and print nothing. Built as the library hx_defaults_values, which the program, its unit
// tests and its fuzz target link.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace defaults {

// How a written value meets what the key holds: replaces it, or extends the array or the
// dictionary there (an absent key counts as an empty one).
enum class WriteMode { Replace, ArrayAdd, DictionaryAdd };

struct WriteRequest {
  platform::Value value;
  WriteMode mode = WriteMode::Replace;
};

// Either a request or a one-line reason that names the offending word.
struct ParsedWrite {
  std::optional<WriteRequest> request;
  std::string error;
};

// Parses the words after `write DOMAIN KEY`. One word without a flag is a plist literal;
// "-int 5" is the integer 5 and "-int x" an error; -array and -array-add take any number of
// items, -dict and -dict-add key and value pairs, each item either a type flag with its text or
// a plist literal; a word that does not open a dictionary, array, data or quoted string and
// does not parse is a string as it stands. Integers are decimal with an optional sign and must fit
// 64 bits; reals are finite decimal numbers; booleans are true/false, yes/no or 1/0 in any case;
// dates take either form of platform::parseDate; data is hexadecimal with an even number of digits.
ParsedWrite parseWriteArguments(const std::vector<std::string>& words);

// Parses a property-list literal: the old-style text form (platform::parseOldStyleText), an XML
// plist document, or one XML value element such as "<integer>5</integer>". Nothing when the text is
// none of these.
std::optional<platform::Value> parsePlistLiteral(std::string_view text);

// The name of a stored value's type as read-type prints it: "boolean", "integer", "float",
// "string", "data", "date", "array" or "dictionary".
std::string typeName(const platform::Value& value);

}  // namespace defaults
