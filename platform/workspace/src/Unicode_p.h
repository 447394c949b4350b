// Text of the files that bundles carry, in whichever Unicode encoding they were saved.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Decodes text whose encoding a byte-order mark or the zero bytes of UTF-16 reveal: UTF-8
// (mark dropped), UTF-16 LE or BE (with a mark, or without one when zero bytes fall only on
// one side of the units). None for malformed UTF-8 or an odd number of UTF-16 bytes; lone
// UTF-16 surrogates become U+FFFD.
std::optional<std::string> decodeTextToUtf8(std::string_view bytes);

}  // namespace platform
