#pragma once

#include <CoreGraphics/CoreGraphics.h>

#include <optional>
#include <string>

#include "ocr_engine.h"

namespace ocr_helper::macos_engine {

struct CGImageData final : ImageData {
  explicit CGImageData(CGImageRef decoded) : image(decoded) {}
  ~CGImageData() override { CGImageRelease(image); }
  CGImageData(const CGImageData&) = delete;
  CGImageData& operator=(const CGImageData&) = delete;

  CGImageRef image;
};

// Image 0 of the file with its orientation property (1 when it has none).
std::optional<DecodedImage> decode_image(const std::string& path);

}  // namespace ocr_helper::macos_engine
