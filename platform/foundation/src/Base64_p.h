// Base64 (RFC 4648 alphabet with '=' padding) for plist data and JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::base64 {

std::string encode(const std::vector<std::uint8_t>& bytes);

// Lenient decoding as the plist reader needs it: ASCII characters outside the alphabet
// (whitespace, line breaks, '=') are skipped; a byte outside ASCII makes the text unreadable.
std::optional<std::vector<std::uint8_t>> decodeLenient(std::string_view text);

}  // namespace platform::base64
