#include "ocr_app.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "reading_order.h"

namespace ocr_helper {

namespace {

using nlohmann::json;

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return !file.fail();
}

class Emitter {
 public:
  Emitter(const Options& options, std::ostream& out) : options_(options), out_(out) {}

  int emit(const json& document) const {
    std::string bytes;
    try {
      bytes = document.dump();
    } catch (const json::exception&) {
      return EXIT_NO_DOCUMENT;
    }
    if (!options_.output.empty()) {
      // A document that never reached its file must not look like success.
      return write_file(options_.output, bytes) ? EXIT_OK : EXIT_NO_DOCUMENT;
    }
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out_.flush();
    return out_ ? EXIT_OK : EXIT_NO_DOCUMENT;
  }

  int fail(const std::string& category, const std::string& message) const {
    return emit(json{{"ok", false}, {"category", category}, {"error", message}});
  }

 private:
  const Options& options_;
  std::ostream& out_;
};

int capabilities(Engine& engine, const Emitter& emitter) {
  std::vector<std::string> languages;
  if (engine.can_list_languages()) {
    LanguageQuery query = engine.supported_languages();
    if (!query.ok) {
      return emitter.fail("missing_component", engine.name() + " text recognition is unavailable: " + query.error);
    }
    languages = std::move(query.languages);
  }
  return emitter.emit(
      json{{"ok", true}, {"languages", languages}, {"autoDetect", engine.supports_language_detection()}});
}

int recognize(const Options& options, Engine& engine, const Emitter& emitter) {
  std::optional<DecodedImage> image = engine.decode(options.image);
  if (!image) return emitter.fail("invalid_input", "The image '" + options.image + "' could not be decoded.");

  RecognitionSettings settings;
  if (!options.language.empty()) {
    std::string language = options.language;
    if (engine.can_list_languages()) {
      const LanguageQuery query = engine.supported_languages();
      const std::optional<std::string> resolved =
          engine.resolve_language(options.language, query.ok ? query.languages : std::vector<std::string>{});
      if (!resolved) {
        return emitter.fail("unsupported_language",
                            "The OCR language '" + options.language + "' is not supported by " + engine.name() + ".");
      }
      language = *resolved;
    }
    settings.languages = {language};
  } else if (engine.supports_language_detection()) {
    settings.automatic_detection = true;
  } else {
    return emitter.fail("unsupported_language",
                        "This version of macOS cannot detect the language of an image; choose a specific "
                        "language.");
  }

  Recognition recognition = engine.recognize(*image, settings);
  if (recognition.error) return emitter.fail("recognition_failed", *recognition.error);
  if (!recognition.results)
    return emitter.fail("recognition_failed", engine.name() + " returned no recognition results.");

  std::vector<Observation>& observations = *recognition.results;
  sort_reading_order(observations);
  std::string text;
  bool first = true;
  for (const Observation& observation : observations) {
    if (!observation.best_candidate) continue;
    if (!first) text += '\n';
    text += *observation.best_candidate;
    first = false;
  }
  return emitter.emit(json{{"ok", true}, {"text", text}});
}

}  // namespace

std::optional<std::string> Engine::resolve_language(const std::string& requested,
                                                    const std::vector<std::string>& supported) {
  if (std::find(supported.begin(), supported.end(), requested) == supported.end()) return std::nullopt;
  return requested;
}

int run(const Options& options, Engine& engine, std::ostream& out) {
  const Emitter emitter(options, out);
  if (options.command == "capabilities") return capabilities(engine, emitter);
  return recognize(options, engine, emitter);
}

int run_program(std::span<const std::string> args, Engine& engine, std::ostream& out) {
  return run(parse_options(args), engine, out);
}

}  // namespace ocr_helper
