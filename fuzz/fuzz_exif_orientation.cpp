// The EXIF orientation reader of ocr_helper over arbitrary files and
// metadata blocks: never reads out of bounds, always answers 1 to 8.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "exif_orientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ocr_helper::linux_engine;
  const std::span<const std::uint8_t> bytes(data, size);
  for (const std::uint32_t orientation : {exif_orientation(bytes), orientation_from_tiff_block(bytes)}) {
    if (orientation < 1 || orientation > 8) std::abort();
  }
  // The same bytes behind each container's signature reach the inner parsers.
  static constexpr std::uint8_t JPEG[] = {0xFF, 0xD8, 0xFF, 0xE1};
  static constexpr std::uint8_t PNG[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const std::span<const std::uint8_t> prefix :
       {std::span<const std::uint8_t>(JPEG), std::span<const std::uint8_t>(PNG)}) {
    std::vector<std::uint8_t> file(prefix.begin(), prefix.end());
    file.insert(file.end(), bytes.begin(), bytes.end());
    const std::uint32_t orientation = exif_orientation(file);
    if (orientation < 1 || orientation > 8) std::abort();
  }
  return 0;
}
