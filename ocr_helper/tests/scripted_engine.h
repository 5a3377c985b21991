#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ocr_engine.h"

namespace ocr_helper::testing {

struct ScriptedPixels final : ImageData {};

// An engine that answers from its fields and records what it was asked.
class ScriptedEngine final : public Engine {
 public:
  // Answers
  std::string recogniser = "Vision";
  bool lists_languages = true;
  LanguageQuery languages{true, {"en-US", "fr-FR"}, ""};
  bool detects_language = true;
  bool decodes = true;
  std::uint32_t orientation = 1;
  Recognition recognition{std::nullopt, std::vector<Observation>{}};

  // Record
  std::vector<std::string> decoded_paths;
  int language_queries = 0;
  std::optional<RecognitionSettings> settings_seen;
  std::optional<std::uint32_t> orientation_seen;

  std::string name() override { return recogniser; }
  bool can_list_languages() override { return lists_languages; }
  LanguageQuery supported_languages() override {
    ++language_queries;
    return languages;
  }
  bool supports_language_detection() override { return detects_language; }
  std::optional<DecodedImage> decode(const std::string& path) override {
    decoded_paths.push_back(path);
    if (!decodes) return std::nullopt;
    DecodedImage image;
    image.data = std::make_unique<ScriptedPixels>();
    image.orientation = orientation;
    return image;
  }
  Recognition recognize(const DecodedImage& image, const RecognitionSettings& settings) override {
    settings_seen = settings;
    orientation_seen = image.orientation;
    return recognition;
  }
};

inline Observation line(double x, double y, double w, double h, std::optional<std::string> text) {
  return Observation{NormalRect{x, y, w, h}, std::move(text)};
}

}  // namespace ocr_helper::testing
