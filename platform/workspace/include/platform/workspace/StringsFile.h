// Localisation tables (".strings" files) as bundles ship them: the text form
// ("key" = "value"; with comments and escapes) or a property list, in UTF-8 or UTF-16.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Export.h"

namespace platform {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Parses a strings file from its bytes.
// Encodings: UTF-8 (with or without a byte-order mark), UTF-16 with a little- or big-endian
// mark, and UTF-16 without a mark when its zero bytes show the byte order.
// Forms: an XML or binary property list whose root is a dictionary (entries whose value is not
// a string are left out), or the text form: entries `key = value;` or `key;` (the value is
// then the key), where each token is a quoted string or a run of letters, digits and _.-/$:,
// with /* */ and // comments between tokens. Quoted strings understand \n \t \r \a \b \f \v
// \" \' \\, \Uxxxx and \uxxxx (surrogate pairs joined), and octal \ooo. A later duplicate key
// wins. A NUL character in a key or value, however written (\0, \U0000, a raw one, inside a
// property list), becomes U+FFFD. Returns none when the bytes are not a well-formed strings
// file; an empty file is an empty table.
HX_PLATFORM_EXPORT std::optional<StringsTable> parseStringsFile(std::string_view bytes);

}  // namespace platform
