#pragma once

#include <string>
#include <vector>

#include "ocr_engine.h"

namespace ocr_helper::linux_engine {

// Tesseract with Leptonica decoding. Without a language it detects the
// script of the page and recognises with up to three installed languages of
// that script, and so reports automatic detection.
class TesseractEngine final : public Engine {
 public:
  std::string name() override { return "Tesseract"; }
  bool can_list_languages() override { return true; }
  LanguageQuery supported_languages() override;
  // Tesseract's own names, and BCP 47 tags resolved to them.
  std::optional<std::string> resolve_language(const std::string& requested,
                                              const std::vector<std::string>& supported) override;
  bool supports_language_detection() override { return true; }
  std::optional<DecodedImage> decode(const std::string& path) override;
  Recognition recognize(const DecodedImage& image, const RecognitionSettings& settings) override;
};

}  // namespace ocr_helper::linux_engine
