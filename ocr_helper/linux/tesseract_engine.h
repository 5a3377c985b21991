#pragma once

#include <string>
#include <vector>

#include "ocr_engine.h"

namespace ocr_helper::linux_engine {

// Tesseract with Leptonica decoding. Without a language it recognises with
// every installed language at once, and so reports automatic detection.
class TesseractEngine final : public Engine {
 public:
  bool can_list_languages() override { return true; }
  LanguageQuery supported_languages() override;
  bool supports_language_detection() override { return true; }
  std::optional<DecodedImage> decode(const std::string& path) override;
  Recognition recognize(const DecodedImage& image, const RecognitionSettings& settings) override;
};

}  // namespace ocr_helper::linux_engine
