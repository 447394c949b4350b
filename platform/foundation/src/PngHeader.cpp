#include "platform/foundation/PngHeader.h"

#include <algorithm>
#include <array>

namespace platform {

std::optional<PngSize> readPngSize(std::string_view bytes) {
  static constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                              0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes.size() < kSignature.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), bytes.begin(),
                  [](unsigned char a, char b) { return a == static_cast<unsigned char>(b); })) {
    return std::nullopt;
  }
  auto bigEndian32 = [&](std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
  };
  std::size_t chunk = kSignature.size();
  for (int hop = 0; hop < 2; ++hop) {
    if (bytes.size() < chunk + 16) return std::nullopt;
    const std::string_view type = bytes.substr(chunk + 4, 4);
    if (type == "IHDR") {
      const PngSize size{bigEndian32(chunk + 8), bigEndian32(chunk + 12)};
      if (size.width == 0 || size.height == 0) return std::nullopt;
      return size;
    }
    if (type != "CgBI") return std::nullopt;
    const std::uint32_t length = bigEndian32(chunk);
    if (length > bytes.size()) return std::nullopt;
    chunk += 12 + static_cast<std::size_t>(length);
  }
  return std::nullopt;
}

std::optional<PngSize> decodablePngSize(std::string_view bytes) {
  if (bytes.size() > kMaxImageFileBytes) return std::nullopt;
  const std::optional<PngSize> size = readPngSize(bytes);
  if (!size || size->width > kMaxImageSide || size->height > kMaxImageSide ||
      std::uint64_t{size->width} * size->height > kMaxImagePixels) {
    return std::nullopt;
  }
  return size;
}

}  // namespace platform
