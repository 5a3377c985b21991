#include "tesseract_engine.h"

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "leptonica_image.h"
#include "tesseract_languages.h"

namespace ocr_helper::linux_engine {

namespace {

// Orientation and script detection data, not a recognition language.
constexpr const char* OSD_DATA = "osd";

// Tesseract keeps coordinates in 16 bits: larger images are refused.
constexpr int MAX_DIMENSION = 32767;

// Running more languages at once costs about as much again each.
constexpr std::size_t MAX_DETECTED_LANGUAGES = 3;
constexpr const char* FALLBACK_LANGUAGE = "eng";
// Mean word confidence below which the other detected languages are tried too.
constexpr int CONFIDENT_READING = 80;
// Orientation confidence from which an untagged page is turned. Upright and
// turned pages of text score 10 to 30; a few words, too little to judge,
// are not detected at all.
constexpr float CONFIDENT_ORIENTATION = 5;

void quiet(tesseract::TessBaseAPI& api) { api.SetVariable("debug_file", "/dev/null"); }

std::optional<std::string> user_language() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return locale_language(value);
  }
  return std::nullopt;
}

// What orientation and script detection sees on a page, and the installed
// recognition languages.
struct PageDetection {
  std::vector<std::string> installed;
  std::string data_path;
  bool detected = false;
  int degrees = 0;  // clockwise turn of the text as it lies in the image
  float orientation_confidence = 0;
  std::string script;
};

PageDetection detect_page(Pix* pix) {
  PageDetection page;
  tesseract::TessBaseAPI api;
  quiet(api);
  const bool detector = api.Init(nullptr, OSD_DATA, tesseract::OEM_TESSERACT_ONLY) == 0;
  api.GetAvailableLanguagesAsVector(&page.installed);
  page.installed.erase(std::remove(page.installed.begin(), page.installed.end(), std::string(OSD_DATA)),
                       page.installed.end());
  const char* path = api.GetDatapath();
  page.data_path = path ? path : "";
  if (!detector) return page;
  api.SetPageSegMode(tesseract::PSM_OSD_ONLY);
  api.SetImage(pix);
  const char* script = nullptr;
  float script_confidence = 0;
  page.detected =
      api.DetectOrientationScript(&page.degrees, &page.orientation_confidence, &script, &script_confidence);
  if (page.detected && script != nullptr) page.script = script;
  return page;
}

// The installed languages of the detected script, the user's first; English
// when the script is unknown or none of its languages is installed. Empty
// when no language is installed.
std::vector<std::string> detected_languages(const PageDetection& page, std::string* error) {
  if (page.installed.empty()) {
    *error = "no Tesseract language data found in '" + page.data_path + "'.";
    return {};
  }
  std::vector<std::string> chosen;
  if (!page.script.empty()) {
    chosen = languages_for_script(page.script, page.installed, user_language(), MAX_DETECTED_LANGUAGES);
  }
  if (chosen.empty()) {
    const bool has_fallback = std::find(page.installed.begin(), page.installed.end(),
                                        std::string(FALLBACK_LANGUAGE)) != page.installed.end();
    chosen.push_back(has_fallback ? FALLBACK_LANGUAGE : page.installed.front());
  }
  return chosen;
}

// The page turned upright when detection is sure of its orientation; the
// page itself otherwise.
PixPtr turned_upright(PixPtr pix, const PageDetection& page) {
  if (!page.detected || page.orientation_confidence < CONFIDENT_ORIENTATION) return pix;
  const int quarter_turns = ((360 - page.degrees) % 360 + 360) % 360 / 90;
  if (quarter_turns == 0) return pix;
  PixPtr turned(pixRotateOrth(pix.get(), quarter_turns));
  return turned ? std::move(turned) : std::move(pix);
}

// Scaled to Tesseract's size limit if larger; observations are normalised
// to the image, so their boxes stay those of the original.
PixPtr within_size_limit(PixPtr pix) {
  const int longest = std::max(pixGetWidth(pix.get()), pixGetHeight(pix.get()));
  if (longest <= MAX_DIMENSION) return pix;
  // Just below the limit: the scaled size is rounded.
  const float factor = static_cast<float>(MAX_DIMENSION - 1) / static_cast<float>(longest);
  return PixPtr(pixScale(pix.get(), factor, factor));
}

std::string join_languages(const std::vector<std::string>& languages) {
  std::string joined;
  for (const std::string& language : languages) {
    if (!joined.empty()) joined += '+';
    joined += language;
  }
  return joined;
}

std::string trimmed(const char* text) {
  std::string s = text ? text : "";
  const auto end = s.find_last_not_of(" \t\r\n\f\v");
  s.erase(end == std::string::npos ? 0 : end + 1);
  const auto start = s.find_first_not_of(" \t\r\n\f\v");
  return start == std::string::npos ? std::string() : s.substr(start);
}

}  // namespace

LanguageQuery TesseractEngine::supported_languages() {
  tesseract::TessBaseAPI api;
  quiet(api);
  // Initialising locates the data directory; the listing works even when
  // the small OSD data itself is missing.
  api.Init(nullptr, OSD_DATA);
  std::vector<std::string> found;
  api.GetAvailableLanguagesAsVector(&found);
  LanguageQuery query;
  for (std::string& language : found) {
    if (language != OSD_DATA) query.languages.push_back(std::move(language));
  }
  query.ok = !query.languages.empty();
  if (!query.ok) {
    const char* path = api.GetDatapath();
    query.error = std::string("no Tesseract language data found in '") + (path ? path : "") + "'.";
  }
  return query;
}

std::optional<std::string> TesseractEngine::resolve_language(const std::string& requested,
                                                             const std::vector<std::string>& supported) {
  return resolve_tesseract_language(requested, supported);
}

std::optional<DecodedImage> TesseractEngine::decode(const std::string& path) { return decode_image(path); }

namespace {

// One recognition pass; `confidence` receives Tesseract's mean word confidence (0 to 100).
Recognition run_tesseract(Pix* pix, const std::string& language, int* confidence) {
  Recognition recognition;
  tesseract::TessBaseAPI api;
  quiet(api);
  if (api.Init(nullptr, language.c_str(), tesseract::OEM_DEFAULT) != 0) {
    recognition.error = "Tesseract could not load the language data for '" + language + "'.";
    return recognition;
  }
  api.SetPageSegMode(tesseract::PSM_AUTO);
  api.SetImage(pix);
  if (api.Recognize(nullptr) != 0) {
    recognition.error = "Tesseract could not recognise the image.";
    return recognition;
  }
  *confidence = api.MeanTextConf();

  const double width = pixGetWidth(pix);
  const double height = pixGetHeight(pix);
  std::vector<Observation> observations;
  std::unique_ptr<tesseract::ResultIterator> line(api.GetIterator());
  constexpr auto LEVEL = tesseract::RIL_TEXTLINE;
  if (line && width > 0 && height > 0) {
    do {
      if (line->Empty(LEVEL)) continue;
      int left = 0, top = 0, right = 0, bottom = 0;
      if (!line->BoundingBox(LEVEL, &left, &top, &right, &bottom)) continue;
      Observation observation;
      // Tesseract counts pixels from the top left; observations use the lower left.
      observation.box =
          NormalRect{left / width, (height - bottom) / height, (right - left) / width, (bottom - top) / height};
      std::unique_ptr<char[]> text(line->GetUTF8Text(LEVEL));
      std::string candidate = trimmed(text.get());
      if (!candidate.empty()) observation.best_candidate = std::move(candidate);
      observations.push_back(std::move(observation));
    } while (line->Next(LEVEL));
  }
  recognition.results = std::move(observations);
  return recognition;
}

}  // namespace

Recognition TesseractEngine::recognize(const DecodedImage& image, const RecognitionSettings& settings) {
  Recognition recognition;
  const auto& source = dynamic_cast<const LeptonicaImage&>(*image.data);
  PixPtr pix = upright_copy(source.pix.get(), image.orientation);
  if (pix) pix = within_size_limit(std::move(pix));
  if (!pix) {
    recognition.error = "The image could not be prepared for recognition.";
    return recognition;
  }

  // Orientation first: every reading below, the multi-language one above
  // all, is wasted on a page lying on its side.
  const bool needs_detection = !image.orientation_tagged || settings.automatic_detection;
  const PageDetection page = needs_detection ? detect_page(pix.get()) : PageDetection{};
  if (!image.orientation_tagged) pix = turned_upright(std::move(pix), page);

  int confidence = 0;
  if (!settings.automatic_detection) return run_tesseract(pix.get(), join_languages(settings.languages), &confidence);

  std::string error;
  const std::vector<std::string> languages = detected_languages(page, &error);
  if (languages.empty()) {
    recognition.error = "Tesseract text recognition is unavailable: " + error;
    return recognition;
  }
  // The first language alone reads most pages; the others are worth their
  // cost only when it reads this one poorly.
  recognition = run_tesseract(pix.get(), languages.front(), &confidence);
  if (languages.size() > 1 && recognition.results && !recognition.results->empty() && confidence < CONFIDENT_READING) {
    recognition = run_tesseract(pix.get(), join_languages(languages), &confidence);
  }
  return recognition;
}

}  // namespace ocr_helper::linux_engine

namespace ocr_helper {
std::unique_ptr<Engine> make_platform_engine() { return std::make_unique<linux_engine::TesseractEngine>(); }
}  // namespace ocr_helper
