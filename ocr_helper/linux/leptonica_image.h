#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ocr_engine.h"

struct Pix;

namespace ocr_helper::linux_engine {

struct PixDeleter {
  void operator()(Pix* pix) const;
};
using PixPtr = std::unique_ptr<Pix, PixDeleter>;

struct LeptonicaImage final : ImageData {
  explicit LeptonicaImage(PixPtr p) : pix(std::move(p)) {}
  PixPtr pix;
};

// Decodes the first image of a PNG, JPEG or TIFF file (any format Leptonica
// reads) with the orientation recorded in its metadata.
std::optional<DecodedImage> decode_image(const std::string& path);

// A copy of pix turned upright for the given orientation, converted to a
// depth Tesseract accepts (1, 8 or 32 bits, no colour map, no alpha).
PixPtr upright_copy(Pix* pix, std::uint32_t orientation);

}  // namespace ocr_helper::linux_engine
