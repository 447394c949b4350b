// Property-list files in XML and binary form, read and written by the platform's rules: a
// file that is missing, truncated, malformed or of the wrong root kind reads as nothing and
// never crashes; integers keep their signed/unsigned storage; dates keep fractions in binary.
// Every function is pure apart from the Env calls it makes, and safe from any thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Env.h"
#include "platform/foundation/Export.h"
#include "platform/foundation/Status.h"
#include "platform/foundation/Value.h"

namespace platform {

enum class PlistFormat { Binary, Xml };

// Parses an XML or binary ("bplist00") property list. Returns nothing when the bytes are not
// one well-formed property list: a bad integer, real or date text, a key without a value, a
// second root, an unknown element, a truncated or inconsistent binary table, or nesting
// deeper than 512 levels. Integers up to INT64_MAX read as signed; larger ones keep the
// unsigned flag. XML dates are whole seconds; binary dates keep their exact double.
HX_PLATFORM_EXPORT std::optional<Value> parsePropertyList(std::string_view bytes);

// Serialises a property list. Returns nothing when `value` (or anything inside it) is None,
// the null marker or an object reference, when a string or key is not valid UTF-8, or, for
// XML, when text holds a control character other than tab, line feed or carriage return, or a
// date falls outside the years 0-9999.
// XML dates are written in whole seconds (the fraction is dropped toward the past); binary
// dates keep their exact value.
HX_PLATFORM_EXPORT std::optional<std::string> serializePropertyList(
    const Value& value, PlistFormat format = PlistFormat::Binary);

// Reads and parses the file at `path` through `env`, a file of `kind` (see Env::readFile for
// the size cap and what is never read). Returns nothing when the file is missing, unreadable or
// over its cap, or when `rootKind` is given and the root is of another kind (with
// ValueKind::Dictionary this answers as dictionaryWithContentsOfFile: does).
HX_PLATFORM_EXPORT std::optional<Value> readPropertyListFile(
    Env& env, const std::string& path, FileKind kind,
    std::optional<ValueKind> rootKind = std::nullopt);

// Serialises `value` and writes it atomically (temporary file, flush, rename) with `mode`.
// InvalidArgument when the value cannot be serialised; the Env's status when writing fails,
// in which case the previous file is untouched.
HX_PLATFORM_EXPORT Status writePropertyListFile(Env& env, const std::string& path,
                                                const Value& value,
                                                PlistFormat format = PlistFormat::Binary,
                                                mode_t mode = 0644);

}  // namespace platform
