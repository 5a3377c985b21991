#pragma once

#include <cstdint>
#include <span>

namespace ocr_helper::linux_engine {

// Orientation (1 to 8) from a TIFF-structured metadata block (as found in
// EXIF); 1 when the tag is absent, malformed or out of range.
std::uint32_t orientation_from_tiff_block(std::span<const std::uint8_t> block);

// Orientation from the EXIF data of a JPEG (APP1) or PNG (eXIf) file; 1 for
// other formats. TIFF files are not inspected: Leptonica already orients them
// while reading.
std::uint32_t exif_orientation(std::span<const std::uint8_t> file);

// The same, but 0 when the file carries no (valid) orientation tag at all.
std::uint32_t exif_orientation_tag(std::span<const std::uint8_t> file);

}  // namespace ocr_helper::linux_engine
