// What a PNG file's header says about its image, read without decoding anything, and the
// limits an image must keep before any decoder is handed it. A file's IHDR chunk fixes how
// much memory its decode takes, so a small file can otherwise ask for gigabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/foundation/Export.h"
#include "platform/foundation/Limits.h"

namespace platform {

// Caps on an image file that is decoded. Icons and previews are a few hundred pixels wide;
// past a cap the file is treated as missing.
inline constexpr std::size_t kMaxImageFileBytes =  // on disk, the cap of every file read
    static_cast<std::size_t>(maximumFileSize(FileKind::Image));
inline constexpr std::uint32_t kMaxImageSide = 4096;  // pixels, either side
// 4 Mi pixels: 16 MiB once decoded to 32-bit pixels.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{2048} * 2048;

struct HX_PLATFORM_EXPORT PngSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// The width and height of the IHDR chunk, or none when `bytes` do not start with the PNG
// signature and an IHDR of non-zero size. Files crushed for the device put a CgBI chunk before
// IHDR, so one chunk ahead of it is allowed. Nothing past the IHDR chunk is looked at.
HX_PLATFORM_EXPORT std::optional<PngSize> readPngSize(std::string_view bytes);

// The header's size when the whole file `bytes` is within kMaxImageFileBytes and its image
// within kMaxImageSide and kMaxImagePixels; none otherwise (not a PNG, or over a cap).
HX_PLATFORM_EXPORT std::optional<PngSize> decodablePngSize(std::string_view bytes);

}  // namespace platform
