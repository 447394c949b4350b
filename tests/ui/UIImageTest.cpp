#include "platform/ui/UIImage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/ui/UIScreen.h"
#include "platform/ui/UITraitCollection.h"
#include "support/TestSupport.h"

namespace {

UIImagePtr filled(int width, int height, std::uint32_t argb) {
  return std::make_shared<UIImage>(width, height, 1.0,
                                   std::vector<std::uint32_t>(width * height, argb));
}

void writePng(const std::string& path, const UIImage& image) {
  auto bytes = UIImagePNGRepresentation(image);
  ASSERT_TRUE(bytes.has_value());
  hxtest::writeFile(path, std::string(bytes->begin(), bytes->end()));
}

void appendBigEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void appendChunk(std::string& png, std::string_view type, std::string_view data) {
  appendBigEndian32(png, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type) + std::string(data);
  png += body;
  appendBigEndian32(png, static_cast<std::uint32_t>(
                             crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// Raw deflate of `bytes` ending at a full flush, so the block decodes on its own and can be
// repeated to repeat its bytes; the final block is the empty one that Z_FINISH gives.
std::string deflateBlock(const std::string& bytes, int flush) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, bytes.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, flush);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// A well-formed 8-bit grey PNG of `width` x `height` black pixels. Its rows compress about a
// thousand to one, so a file of a few hundred kilobytes can declare gigabytes of pixels.
std::string blackPng(std::uint32_t width, std::uint32_t height) {
  const std::string row(width + 1, '\0');  // filter byte and pixels
  const std::uint32_t group = 64;
  std::string groupRows;
  for (std::uint32_t i = 0; i < std::min(group, height); ++i) groupRows += row;
  const std::string groupBlock = deflateBlock(groupRows, Z_FULL_FLUSH);
  std::string idat("\x78\x01", 2);  // zlib header: deflate, 32 KiB window
  for (std::uint32_t i = 0; i < height / group; ++i) idat += groupBlock;
  for (std::uint32_t i = 0; i < height % group; ++i) idat += deflateBlock(row, Z_FULL_FLUSH);
  idat += deflateBlock("", Z_FINISH);
  const uLong rowSum = adler32(1, reinterpret_cast<const Bytef*>(row.data()), row.size());
  uLong sum = 1;
  for (std::uint32_t i = 0; i < height; ++i) sum = adler32_combine(sum, rowSum, row.size());
  appendBigEndian32(idat, static_cast<std::uint32_t>(sum));

  std::string header;
  appendBigEndian32(header, width);
  appendBigEndian32(header, height);
  header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  appendChunk(png, "IHDR", header);
  appendChunk(png, "IDAT", idat);
  appendChunk(png, "IEND", "");
  return png;
}

std::vector<std::uint8_t> asBytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

class UIImageTest : public ::testing::Test {
 protected:
  hxtest::TemporaryDirectory dir;
  UIImage::IconSource previousSource;
  void SetUp() override { UIScreen::mainScreen()->setScale(2); }
  void TearDown() override {
    UIScreen::mainScreen()->setScale(2);
    UIImage::setApplicationIconSource(std::move(previousSource));
  }
};

TEST_F(UIImageTest, PicksTheFileForTheScreenScale) {
  // Each file is 10 points square at its own scale, so its pixel width tells which was read.
  const struct {
    std::vector<int> present;  // file scales on disk
    double screen;
    int expectedScale;  // 0: no image
  } cases[] = {
      {{1, 2, 3}, 2, 2}, {{1, 2, 3}, 3, 3}, {{1, 2, 3}, 1, 1}, {{1, 3}, 2, 1},
      {{3}, 2, 3},       {{2}, 3, 2},       {{1}, 3, 1},       {{}, 2, 0},
  };
  int folder = 0;
  for (const auto& c : cases) {
    const std::string bundle = dir / ("Bundle" + std::to_string(folder++) + ".app");
    for (int s : c.present) {
      writePng(bundle + "/IconNewDot" + (s == 1 ? "" : "@" + std::to_string(s) + "x") + ".png",
               *filled(10 * s, 10 * s, 0xFFFFFFFF));
    }
    UIScreen::mainScreen()->setScale(c.screen);
    auto image =
        UIImage::imageNamedInBundleCompatibleWithTraitCollection("IconNewDot", bundle, nullptr);
    SCOPED_TRACE("screen " + std::to_string(c.screen) + ", bundle " + bundle);
    if (c.expectedScale == 0) {
      EXPECT_EQ(image, nullptr);
      continue;
    }
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->scale(), c.expectedScale);
    EXPECT_EQ(image->pixelWidth(), 10 * c.expectedScale);
    EXPECT_EQ(image->size(), CGSizeMake(10, 10));
  }
}

TEST_F(UIImageTest, TraitCollectionScaleOverridesTheScreen) {
  const std::string bundle = dir / "Traits.bundle";
  writePng(bundle + "/dot@2x.png", *filled(20, 20, 0xFFFFFFFF));
  writePng(bundle + "/dot@3x.png", *filled(30, 30, 0xFFFFFFFF));
  auto traits = UITraitCollection::traitCollectionWithDisplayScale(3);
  auto image =
      UIImage::imageNamedInBundleCompatibleWithTraitCollection("dot.png", bundle, traits.get());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->scale(), 3);
}

TEST_F(UIImageTest, UnreadableOrEscapingNamesGiveNoImage) {
  const std::string bundle = dir / "Broken.bundle";
  hxtest::writeFile(bundle + "/notpng@2x.png", "GIF89a not a png at all");
  hxtest::writeFile(bundle + "/empty.png", "");
  writePng(dir / "outside.png", *filled(4, 4, 0xFF000000));
  EXPECT_EQ(UIImage::imageNamedInBundleCompatibleWithTraitCollection("notpng", bundle, nullptr),
            nullptr);
  EXPECT_EQ(UIImage::imageNamedInBundleCompatibleWithTraitCollection("empty", bundle, nullptr),
            nullptr);
  EXPECT_EQ(UIImage::imageNamedInBundleCompatibleWithTraitCollection("../outside", bundle, nullptr),
            nullptr);
  EXPECT_EQ(UIImage::imageWithContentsOfFile(bundle), nullptr) << "a folder is not an image";
  EXPECT_EQ(UIImage::imageWithContentsOfFile(dir / "missing.png"), nullptr);
  EXPECT_EQ(UIImage::imageWithDataScale({0x89, 'P', 'N', 'G'}, 2), nullptr);
}

TEST_F(UIImageTest, FlatTintSetsEveryPixelToTheColourAndKeepsItsAlpha) {
  // Four pixels: transparent, a quarter, a half and fully opaque, in different colours.
  auto image = std::make_shared<UIImage>(
      4, 1, 2.0, std::vector<std::uint32_t>{0x00000000u, 0x40400000u, 0x80004000u, 0xFF0000FFu});
  auto tinted =
      image->_flatImageWithColor(UIColor::colorWithRedGreenBlueAlpha(0, 1, 0.3930000066757202, 1));
  ASSERT_NE(tinted, nullptr);
  EXPECT_EQ(tinted->scale(), 2);
  for (int x = 0; x < 4; ++x) {
    const platform::Color before = image->colorAtPixel(x, 0);
    const platform::Color after = tinted->colorAtPixel(x, 0);
    EXPECT_NEAR(after.alpha, before.alpha, 1.0 / 255) << x;
    if (before.alpha == 0) continue;
    EXPECT_NEAR(after.red, 0, 0.02) << x;
    EXPECT_NEAR(after.green, 1, 0.02) << x;
    EXPECT_NEAR(after.blue, 0.393, 0.02) << x;
  }
  auto halfWhite = image->_flatImageWithColor(UIColor::colorWithWhiteAlpha(1, 0.5));
  EXPECT_NEAR(halfWhite->colorAtPixel(3, 0).alpha, 0.5, 1.0 / 255);
  EXPECT_NEAR(halfWhite->colorAtPixel(3, 0).red, 1, 0.01);
}

TEST_F(UIImageTest, PngRoundTripKeepsThePixels) {
  auto image =
      std::make_shared<UIImage>(3, 2, 1.0,
                                std::vector<std::uint32_t>{0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu,
                                                           0x80800000u, 0, 0xFFFFFFFFu});
  auto bytes = UIImagePNGRepresentation(*image);
  ASSERT_TRUE(bytes.has_value());
  auto back = UIImage::imageWithDataScale(*bytes, 3);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->pixels(), image->pixels());
  EXPECT_EQ(back->size(), CGSizeMake(1, 2.0 / 3));
}

TEST_F(UIImageTest, ApplicationIconComesFromTheIconSourceAtTheFormatSize) {
  writePng(dir / "icon.png", *filled(120, 120, 0xFF3366CCu));
  hxtest::writeFile(dir / "bad.png", "not an image");
  std::vector<std::string> asked;
  previousSource =
      UIImage::setApplicationIconSource([&](const std::string& identifier, double points,
                                            double scale) -> std::optional<std::string> {
        asked.push_back(identifier + " " + std::to_string(static_cast<int>(points)) + " " +
                        std::to_string(static_cast<int>(scale)));
        if (identifier == "com.example.app") return dir / "icon.png";
        if (identifier == "com.example.bad") return dir / "bad.png";
        return std::nullopt;
      });
  auto icon = UIImage::_applicationIconImageForBundleIdentifierFormatScale("com.example.app", 0, 2);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->size(), CGSizeMake(29, 29));
  EXPECT_EQ(icon->pixelWidth(), 58);
  EXPECT_NEAR(icon->colorAtPixel(29, 29).blue, 0xCC / 255.0, 0.01);
  auto large =
      UIImage::_applicationIconImageForBundleIdentifierFormatScale("com.example.app", 2, 3);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(large->size(), CGSizeMake(60, 60));
  EXPECT_EQ(UIImage::_applicationIconImageForBundleIdentifierFormatScale("com.example.none", 0, 2),
            nullptr);
  EXPECT_EQ(UIImage::_applicationIconImageForBundleIdentifierFormatScale("com.example.bad", 0, 2),
            nullptr);
  EXPECT_EQ(UIImage::_applicationIconImageForBundleIdentifierFormatScale("", 0, 2), nullptr);
  EXPECT_EQ(asked.front(), "com.example.app 29 2");
  // Asked again when the first icon is drawn, since the file is chosen then; an empty
  // identifier is not looked up.
  EXPECT_EQ(asked.size(), 5u);
}

TEST_F(UIImageTest, ImagesOverTheCapsAreRefusedFromTheirHeader) {
  // 16000 x 16000 pixels would be a gigabyte of pixels before the first row is read.
  const std::string bomb = blackPng(16000, 16000);
  ASSERT_LT(bomb.size(), 512u * 1024);
  hxtest::writeFile(dir / "bomb.png", bomb);
  EXPECT_EQ(UIImage::imageWithContentsOfFile(dir / "bomb.png"), nullptr);
  EXPECT_EQ(UIImage::imageWithDataScale(asBytes(bomb), 1), nullptr);
  previousSource = UIImage::setApplicationIconSource(
      [&](const std::string&, double, double) -> std::optional<std::string> {
        return dir / "bomb.png";
      });
  EXPECT_EQ(UIImage::_applicationIconImageForBundleIdentifierFormatScale("com.example.app", 2, 2),
            nullptr);

  // Either side up to 4096 pixels, and up to 2048 x 2048 pixels in all.
  const struct {
    std::uint32_t width, height;
    bool decodes;
  } sizes[] = {{4096, 1, true}, {1, 4097, false}, {2048, 2048, true}, {2048, 2049, false}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
    auto image = UIImage::imageWithDataScale(asBytes(blackPng(size.width, size.height)), 1);
    EXPECT_EQ(image != nullptr, size.decodes);
  }

  // A small image in a file padded past 8 MiB is refused by its file size.
  auto small = UIImagePNGRepresentation(*filled(2, 2, 0xFFFFFFFF));
  ASSERT_TRUE(small.has_value());
  std::string padded(small->begin(), small->end());
  hxtest::writeFile(dir / "small.png", padded);
  ASSERT_NE(UIImage::imageWithContentsOfFile(dir / "small.png"), nullptr);
  padded.resize(8u * 1024 * 1024 + 1, '\0');
  hxtest::writeFile(dir / "padded.png", padded);
  EXPECT_EQ(UIImage::imageWithContentsOfFile(dir / "padded.png"), nullptr);
}

TEST_F(UIImageTest, DeferredImageIsMadeOnceOnFirstUse) {
  int renders = 0;
  auto image = UIImage::deferredImage(4, 2, 2.0, "key", [&] {
    ++renders;
    return filled(4, 2, 0xFF00FF00u);
  });
  EXPECT_EQ(image->size(), CGSizeMake(2, 1));
  EXPECT_EQ(image->sourceKey(), "key");
  EXPECT_EQ(renders, 0);
  EXPECT_EQ(image->pixels().front(), 0xFF00FF00u);
  EXPECT_EQ(image->colorAtPixel(3, 1).green, 1.0);
  EXPECT_EQ(renders, 1);

  // A render that fails, or makes another size, leaves the image transparent.
  auto wrong = UIImage::deferredImage(4, 2, 1.0, "k", [] { return filled(3, 3, 0xFFFFFFFFu); });
  EXPECT_EQ(wrong->pixels(), std::vector<std::uint32_t>(8, 0));
  auto failed = UIImage::deferredImage(1, 1, 1.0, "k", [] { return UIImagePtr(); });
  EXPECT_EQ(failed->pixels(), std::vector<std::uint32_t>(1, 0));
}

TEST_F(UIImageTest, ApplicationIconIsReadOnFirstUseAndKeyedByItsFile) {
  writePng(dir / "icon.png", *filled(120, 120, 0xFF3366CCu));
  std::string broken = hxtest::readFile(dir / "icon.png");
  broken.resize(40);  // a PNG header without its image data
  hxtest::writeFile(dir / "broken.png", broken);
  previousSource = UIImage::setApplicationIconSource(
      [&](const std::string& identifier, double, double) -> std::optional<std::string> {
        return dir / (identifier + ".png");
      });
  auto icon = UIImage::_applicationIconImageForBundleIdentifierFormatScale("icon", 0, 2);
  ASSERT_NE(icon, nullptr);
  const std::string key = icon->sourceKey();
  EXPECT_NE(key, "");
  EXPECT_EQ(UIImage::_applicationIconImageForBundleIdentifierFormatScale("icon", 0, 2)->sourceKey(),
            key);
  EXPECT_NE(UIImage::_applicationIconImageForBundleIdentifierFormatScale("icon", 0, 3)->sourceKey(),
            key)
      << "another size is another image";

  // The file changes before the icon is first drawn: the new file is drawn, and an icon
  // asked for now has another key.
  writePng(dir / "icon.png", *filled(60, 60, 0xFFCC3366u));
  EXPECT_NEAR(icon->colorAtPixel(29, 29).red, 0xCC / 255.0, 0.01);
  EXPECT_NE(UIImage::_applicationIconImageForBundleIdentifierFormatScale("icon", 0, 2)->sourceKey(),
            key);

  auto damaged = UIImage::_applicationIconImageForBundleIdentifierFormatScale("broken", 0, 2);
  ASSERT_NE(damaged, nullptr) << "the header alone says PNG";
  EXPECT_EQ(damaged->colorAtPixel(29, 29).alpha, 0);
}

}  // namespace
