#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ocr_helper {

// A bounding box in normalised image coordinates: 0 to 1, origin at the lower left.
struct NormalRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double mid_y() const { return y + height / 2; }
  double min_x() const { return width < 0 ? x + width : x; }
  double min_y() const { return height < 0 ? y + height : y; }
  double max_y() const { return height < 0 ? y : y + height; }
};

struct Observation {
  NormalRect box;
  std::optional<std::string> best_candidate;  // absent: the recogniser had no candidate
};

// Pixels in whatever form the engine decoded them; only that engine reads them.
struct ImageData {
  virtual ~ImageData() = default;
};

struct DecodedImage {
  std::unique_ptr<ImageData> data;
  std::uint32_t orientation = 1;  // EXIF/TIFF orientation, 1 = upright
  // The file states its orientation; otherwise an engine that can detect
  // the orientation of the page may turn it.
  bool orientation_tagged = false;
};

struct LanguageQuery {
  bool ok = false;
  std::vector<std::string> languages;
  std::string error;  // localised description when !ok
};

struct RecognitionSettings {
  std::vector<std::string> languages;  // used when not detecting automatically
  bool automatic_detection = false;
};

struct Recognition {
  std::optional<std::string> error;                 // running the request failed
  std::optional<std::vector<Observation>> results;  // absent: no result list
};

// The text recogniser of the platform.
class Engine {
 public:
  virtual ~Engine() = default;

  // The recogniser's name as messages give it ("Vision", "Tesseract").
  virtual std::string name() = 0;

  // False where the recogniser cannot report its languages; the language
  // check is then skipped and capabilities list none.
  virtual bool can_list_languages() = 0;
  virtual LanguageQuery supported_languages() = 0;
  // The supported language that a requested identifier stands for; nullopt
  // when none does. Identifiers are compared exactly unless the recogniser
  // also accepts other spellings (such as language tags) for its own names.
  virtual std::optional<std::string> resolve_language(const std::string& requested,
                                                      const std::vector<std::string>& supported);
  virtual bool supports_language_detection() = 0;
  // nullopt when the file cannot be opened as an image or its first image not decoded.
  virtual std::optional<DecodedImage> decode(const std::string& path) = 0;
  virtual Recognition recognize(const DecodedImage& image, const RecognitionSettings& settings) = 0;
};

// Defined by the platform's engine folder.
std::unique_ptr<Engine> make_platform_engine();

}  // namespace ocr_helper
