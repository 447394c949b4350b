// The old-style text form of property lists: quoted or bare strings, `( item, ... )`,
// `{ key = value; }`, `<hex data>`, and C comments. One reader for every format built on it
// (strings files, halvex-defaults' literals), so that all of them agree on quoting and escapes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Export.h"
#include "platform/foundation/Value.h"

namespace platform {

// A cursor over old-style text. Formats with their own grammar around the values (a strings
// file's `key = value;` pairs) step it piece by piece; parseOldStyleText reads one whole value.
// Quoted strings take "..." or '...' with the escapes \n \t \r \a \b \f \v, \Uxxxx and \uxxxx
// (up to four hex digits; a surrogate pair spells one character, a lone half U+FFFD), octal
// \ooo (up to three digits), and any other character standing for itself. Every NUL a string
// would hold (a raw byte, \0, \U0000) becomes U+FFFD: a NUL cuts text short wherever it reaches
// C strings (the bus, Pango, the page). The text is expected to be UTF-8 already.
class HX_PLATFORM_EXPORT OldStyleTextReader {
 public:
  explicit OldStyleTextReader(std::string_view text) : text_(text) {}

  // Skips white space and comments; false only for a comment that never closes.
  bool skipSpaceAndComments();
  bool atEnd() const { return position_ >= text_.size(); }
  // The character at the cursor; NUL at the end.
  char peek(std::size_t ahead = 0) const {
    return position_ + ahead < text_.size() ? text_[position_ + ahead] : '\0';
  }
  // After space and comments, takes `c` when it is next.
  bool accept(char c);

  // A quoted or bare string at the cursor (no space skipped before it).
  std::optional<std::string> readString();
  // Any value after space and comments: a string, an array, a dictionary or data. Nesting is
  // bounded so that hostile text cannot exhaust the stack.
  std::optional<Value> readValue() { return readValue(0); }

 private:
  std::optional<Value> readValue(int depth);
  std::optional<Value> readArray(int depth);
  std::optional<Value> readDictionary(int depth);
  std::optional<Value> readData();
  bool readQuoted(char quote, std::string& out);
  std::optional<std::uint32_t> readUnicodeEscape();
  void readEscape(std::string& out);

  std::string_view text_;
  std::size_t position_ = 0;
};

// The whole of `text` as one old-style value, with nothing after it but space and comments.
HX_PLATFORM_EXPORT std::optional<Value> parseOldStyleText(std::string_view text);

}  // namespace platform
