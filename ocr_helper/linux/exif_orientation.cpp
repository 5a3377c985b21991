#include "exif_orientation.h"

#include <cstring>

namespace ocr_helper::linux_engine {

namespace {

constexpr std::uint16_t ORIENTATION_TAG = 0x0112;
constexpr std::uint16_t TYPE_SHORT = 3;

class Reader {
 public:
  Reader(std::span<const std::uint8_t> bytes, bool big_endian) : bytes_(bytes), big_endian_(big_endian) {}

  bool has(std::size_t offset, std::size_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  std::uint16_t u16(std::size_t offset) const {
    const unsigned a = bytes_[offset];
    const unsigned b = bytes_[offset + 1];
    return static_cast<std::uint16_t>(big_endian_ ? (a << 8 | b) : (b << 8 | a));
  }
  std::uint32_t u32(std::size_t offset) const {
    const std::uint32_t hi = u16(offset);
    const std::uint32_t lo = u16(offset + 2);
    return big_endian_ ? (hi << 16 | lo) : (lo << 16 | hi);
  }

 private:
  std::span<const std::uint8_t> bytes_;
  bool big_endian_;
};

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

constexpr std::uint32_t NO_TAG = 0;

std::uint32_t tiff_orientation_tag(std::span<const std::uint8_t> block) {
  if (block.size() < 8) return NO_TAG;
  bool big_endian;
  if (block[0] == 'I' && block[1] == 'I')
    big_endian = false;
  else if (block[0] == 'M' && block[1] == 'M')
    big_endian = true;
  else
    return NO_TAG;
  const Reader reader(block, big_endian);
  if (reader.u16(2) != 42) return NO_TAG;
  const std::size_t ifd = reader.u32(4);
  if (!reader.has(ifd, 2)) return NO_TAG;
  const std::size_t count = reader.u16(ifd);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = ifd + 2 + i * 12;
    if (!reader.has(entry, 12)) return NO_TAG;
    if (reader.u16(entry) != ORIENTATION_TAG) continue;
    if (reader.u16(entry + 2) != TYPE_SHORT || reader.u32(entry + 4) != 1) return NO_TAG;
    const std::uint32_t value = reader.u16(entry + 8);
    return value >= 1 && value <= 8 ? value : NO_TAG;
  }
  return NO_TAG;
}

std::uint32_t from_jpeg(std::span<const std::uint8_t> file) {
  std::size_t pos = 2;
  while (pos + 4 <= file.size()) {
    if (file[pos] != 0xFF) return NO_TAG;
    const std::uint8_t marker = file[pos + 1];
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
      pos += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) return NO_TAG;  // image data starts: no metadata follows
    const std::size_t length = std::size_t{file[pos + 2]} << 8 | file[pos + 3];
    if (length < 2 || pos + 2 + length > file.size()) return NO_TAG;
    const std::span<const std::uint8_t> payload = file.subspan(pos + 4, length - 2);
    if (marker == 0xE1 && payload.size() >= 6 && std::memcmp(payload.data(), "Exif\0\0", 6) == 0) {
      return tiff_orientation_tag(payload.subspan(6));
    }
    pos += 2 + length;
  }
  return NO_TAG;
}

std::uint32_t from_png(std::span<const std::uint8_t> file) {
  std::size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const std::size_t length = be32(&file[pos]);
    const std::uint8_t* type = &file[pos + 4];
    if (length > file.size() - pos - 12) return NO_TAG;
    if (std::memcmp(type, "eXIf", 4) == 0) return tiff_orientation_tag(file.subspan(pos + 8, length));
    if (std::memcmp(type, "IEND", 4) == 0) return NO_TAG;
    pos += 12 + length;
  }
  return NO_TAG;
}

}  // namespace

std::uint32_t orientation_from_tiff_block(std::span<const std::uint8_t> block) {
  const std::uint32_t tag = tiff_orientation_tag(block);
  return tag == NO_TAG ? 1 : tag;
}

std::uint32_t exif_orientation_tag(std::span<const std::uint8_t> file) {
  static constexpr std::uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (file.size() >= 8 && std::memcmp(file.data(), PNG_SIGNATURE, 8) == 0) return from_png(file);
  if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) return from_jpeg(file);
  return NO_TAG;
}

std::uint32_t exif_orientation(std::span<const std::uint8_t> file) {
  const std::uint32_t tag = exif_orientation_tag(file);
  return tag == NO_TAG ? 1 : tag;
}

}  // namespace ocr_helper::linux_engine
