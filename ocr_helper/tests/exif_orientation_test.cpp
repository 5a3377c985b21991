#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "exif_orientation.h"

namespace ocr_helper::linux_engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One push_back at a time: gcc 12 warns falsely on inserting a short list at -O2.
void append(Bytes& b, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t x : bytes) b.push_back(x);
}

// A TIFF block whose first directory holds one SHORT entry for the tag.
Bytes tiff_block(bool big_endian, std::uint16_t tag, std::uint16_t value, std::uint16_t type = 3) {
  auto u16 = [&](Bytes& b, unsigned v) {
    if (big_endian)
      append(b, {std::uint8_t(v >> 8), std::uint8_t(v)});
    else
      append(b, {std::uint8_t(v), std::uint8_t(v >> 8)});
  };
  auto u32 = [&](Bytes& b, std::uint32_t v) {
    if (big_endian) {
      u16(b, v >> 16);
      u16(b, v & 0xFFFF);
    } else {
      u16(b, v & 0xFFFF);
      u16(b, v >> 16);
    }
  };
  Bytes b = big_endian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
  u16(b, 42);
  u32(b, 8);
  u16(b, 2);  // two entries: an unrelated one, then ours
  u16(b, 0x010F);
  u16(b, 2);
  u32(b, 4);
  u32(b, 0);
  u16(b, tag);
  u16(b, type);
  u32(b, 1);
  u16(b, value);
  u16(b, 0);
  u32(b, 0);
  return b;
}

Bytes jpeg_with(const Bytes& exif_payload) {
  Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 'J', 'F'};  // SOI, then a short APP0
  const std::size_t length = exif_payload.size() + 8;
  append(jpeg, {0xFF, 0xE1, std::uint8_t(length >> 8), std::uint8_t(length)});
  append(jpeg, {'E', 'x', 'i', 'f', 0, 0});
  jpeg.insert(jpeg.end(), exif_payload.begin(), exif_payload.end());
  append(jpeg, {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
  return jpeg;
}

Bytes png_with(const Bytes& exif_payload) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const Bytes& data) {
    const std::uint32_t n = static_cast<std::uint32_t>(data.size());
    append(png, {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    append(png, {0, 0, 0, 0});  // CRC is not checked
  };
  chunk("IHDR", Bytes(13, 0));
  chunk("eXIf", exif_payload);
  chunk("IEND", {});
  return png;
}

TEST(ExifOrientation, ReadsTheTagInBothByteOrders) {
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(false, 0x0112, 6)), 6u);
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(true, 0x0112, 8)), 8u);
}

TEST(ExifOrientation, MissingWrongTypedOrOutOfRangeTagMeansUpright) {
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(false, 0x0110, 6)), 1u);
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(false, 0x0112, 6, 4)), 1u);
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(false, 0x0112, 0)), 1u);
  EXPECT_EQ(orientation_from_tiff_block(tiff_block(false, 0x0112, 9)), 1u);
}

TEST(ExifOrientation, TruncatedOrCorruptBlocksAreSafe) {
  const Bytes good = tiff_block(true, 0x0112, 3);
  const std::size_t entry_end = 8 + 2 + 2 * 12;
  ASSERT_EQ(orientation_from_tiff_block(Bytes(good.begin(), good.begin() + entry_end)), 3u);
  for (std::size_t n = 0; n < entry_end; ++n) {
    const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(orientation_from_tiff_block(cut), 1u) << "cut at " << n;
  }
  Bytes far_ifd = good;
  far_ifd[4] = 0x7F;  // directory offset far beyond the block
  EXPECT_EQ(orientation_from_tiff_block(far_ifd), 1u);
}

TEST(ExifOrientation, FoundInJpegApp1AndPngExifChunk) {
  EXPECT_EQ(exif_orientation(jpeg_with(tiff_block(true, 0x0112, 6))), 6u);
  EXPECT_EQ(exif_orientation(png_with(tiff_block(false, 0x0112, 3))), 3u);
}

TEST(ExifOrientation, OtherFormatsAndTruncatedContainersAreUpright) {
  EXPECT_EQ(exif_orientation(tiff_block(false, 0x0112, 6)), 1u) << "TIFF files are oriented by Leptonica";
  EXPECT_EQ(exif_orientation(Bytes{'h', 'e', 'l', 'l', 'o'}), 1u);
  const Bytes jpeg = jpeg_with(tiff_block(true, 0x0112, 6));
  const Bytes png = png_with(tiff_block(true, 0x0112, 6));
  for (std::size_t n = 0; n < 40; ++n) {
    EXPECT_EQ(exif_orientation(Bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(n))), 1u);
    EXPECT_EQ(exif_orientation(Bytes(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(n))), 1u);
  }
}

}  // namespace
}  // namespace ocr_helper::linux_engine
