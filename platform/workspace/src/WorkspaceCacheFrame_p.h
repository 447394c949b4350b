// The frame around the workspace cache file's body: a magic that names the format's version,
// then the body's length and checksum, so that a torn, damaged or older file is told apart
// before any of it is read. Header-only, so the fuzz target can frame the bodies it makes up.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::workspacecache {

inline constexpr std::string_view kMagic = "HXWSC\x03\r\n";
inline constexpr std::size_t kHeaderSize = kMagic.size() + 2 * sizeof(std::uint64_t);

// A word-at-a-time checksum: it only has to catch a torn or damaged file, quickly.
inline std::uint64_t checksum(std::string_view bytes) {
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ bytes.size();
  auto mix = [&](std::uint64_t word) {
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
  };
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    mix(word);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
  mix(tail);
  return hash;
}

// Fills the first kHeaderSize bytes of `file`, which hold its body after them.
inline void writeHeader(std::string& file) {
  const std::string_view body = std::string_view(file).substr(kHeaderSize);
  const std::uint64_t header[2] = {body.size(), checksum(body)};
  std::memcpy(file.data(), kMagic.data(), kMagic.size());
  std::memcpy(file.data() + kMagic.size(), header, sizeof header);
}

// Points `out` at the body of `file`; false when the frame does not hold (a torn, damaged or
// other file).
inline bool body(std::string_view file, std::string_view& out) {
  if (file.size() < kHeaderSize || !file.starts_with(kMagic)) return false;
  std::uint64_t header[2];
  std::memcpy(header, file.data() + kMagic.size(), sizeof header);
  out = file.substr(kHeaderSize);
  return header[0] == out.size() && header[1] == checksum(out);
}

}  // namespace platform::workspacecache
