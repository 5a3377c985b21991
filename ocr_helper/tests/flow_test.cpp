#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

#include "ocr_app.h"
#include "scripted_engine.h"

namespace ocr_helper {
namespace {

using nlohmann::json;
using testing::line;
using testing::ScriptedEngine;

struct Outcome {
  int status;
  std::string raw;
  json document() const { return json::parse(raw); }
};

Outcome run_with(ScriptedEngine& engine, std::vector<std::string> args) {
  args.insert(args.begin(), "ocr_helper");
  std::ostringstream out;
  const int status = run_program(args, engine, out);
  return {status, out.str()};
}

json failure(const std::string& category, const std::string& message) {
  return json{{"ok", false}, {"category", category}, {"error", message}};
}

class OcrFlow : public ::testing::Test {
 protected:
  ScriptedEngine engine;
};

TEST_F(OcrFlow, NoArgumentsFailsToDecodeTheEmptyPath) {
  const Outcome out = run_with(engine, {});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(engine.decoded_paths, std::vector<std::string>{""});
  engine.decodes = false;
  const Outcome failed = run_with(engine, {});
  EXPECT_EQ(failed.status, 0);
  EXPECT_EQ(failed.document(), failure("invalid_input", "The image '' could not be decoded."));
}

TEST_F(OcrFlow, RecognisedLinesAreJoinedInReadingOrderWithoutTrailingNewline) {
  engine.recognition.results =
      std::vector<Observation>{line(0.6, 0.2, 0.3, 0.05, "bottom right"), line(0.1, 0.8, 0.3, 0.05, "top left"),
                               line(0.1, 0.2, 0.3, 0.05, "bottom left"), line(0.6, 0.8, 0.3, 0.05, "top right")};
  const Outcome out = run_with(engine, {"--image", "page.png"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.document(), (json{{"ok", true}, {"text", "top left\ntop right\nbottom left\nbottom right"}}));
  EXPECT_EQ(out.raw.find('\n'), std::string::npos) << "compact document, escaped newlines only";
  EXPECT_EQ(out.raw.back(), '}');
}

TEST_F(OcrFlow, ObservationsWithoutCandidateAreSkipped) {
  engine.recognition.results = std::vector<Observation>{
      line(0.1, 0.8, 0.3, 0.05, "one"), line(0.1, 0.5, 0.3, 0.05, std::nullopt), line(0.1, 0.2, 0.3, 0.05, "two")};
  EXPECT_EQ(run_with(engine, {"--image", "a.png"}).document()["text"], "one\ntwo");
}

TEST_F(OcrFlow, ImageWithoutTextGivesEmptyText) {
  EXPECT_EQ(run_with(engine, {"--image", "blank.png"}).document(), (json{{"ok", true}, {"text", ""}}));
}

TEST_F(OcrFlow, OrientationOfTheImageReachesTheRecogniser) {
  engine.orientation = 6;
  run_with(engine, {"--image", "turned.jpg"});
  EXPECT_EQ(engine.orientation_seen, 6u);
}

TEST_F(OcrFlow, GivenLanguageIsCheckedExactlyThenSetAlone) {
  run_with(engine, {"--image", "a.png", "--language", "fr-FR"});
  ASSERT_TRUE(engine.settings_seen);
  EXPECT_FALSE(engine.settings_seen->automatic_detection);
  EXPECT_EQ(engine.settings_seen->languages, std::vector<std::string>{"fr-FR"});

  ScriptedEngine other;
  const Outcome out = run_with(other, {"--image", "a.png", "--language", "fr-fr"});
  EXPECT_EQ(out.document(), failure("unsupported_language", "The OCR language 'fr-fr' is not supported by Vision."));
  EXPECT_FALSE(other.settings_seen) << "recognition must not run";
}

TEST_F(OcrFlow, FailedLanguageQueryCountsAsEmptyList) {
  engine.languages = LanguageQuery{false, {}, "broken"};
  const Outcome out = run_with(engine, {"--image", "a.png", "--language", "en-US"});
  EXPECT_EQ(out.document(), failure("unsupported_language", "The OCR language 'en-US' is not supported by Vision."));
}

TEST_F(OcrFlow, SystemsThatCannotListLanguagesSkipTheCheck) {
  engine.lists_languages = false;
  run_with(engine, {"--image", "a.png", "--language", "xx-YY"});
  EXPECT_EQ(engine.language_queries, 0);
  ASSERT_TRUE(engine.settings_seen);
  EXPECT_EQ(engine.settings_seen->languages, std::vector<std::string>{"xx-YY"});
}

TEST_F(OcrFlow, TrailingLanguageOptionMeansAutomaticDetection) {
  run_with(engine, {"--image", "a.png", "--language"});
  ASSERT_TRUE(engine.settings_seen);
  EXPECT_TRUE(engine.settings_seen->automatic_detection);
  EXPECT_EQ(engine.language_queries, 0);
}

TEST_F(OcrFlow, NoLanguageWithoutDetectionFails) {
  engine.detects_language = false;
  const Outcome out = run_with(engine, {"--image", "a.png"});
  EXPECT_EQ(out.document(),
            failure("unsupported_language",
                    "This version of macOS cannot detect the language of an image; choose a specific language."));
  EXPECT_FALSE(engine.settings_seen);
}

TEST_F(OcrFlow, RecognitionErrorsAreReported) {
  engine.recognition = Recognition{"The operation couldn't be completed.", std::nullopt};
  EXPECT_EQ(run_with(engine, {"--image", "a.png"}).document(),
            failure("recognition_failed", "The operation couldn't be completed."));
  engine.recognition = Recognition{std::nullopt, std::nullopt};
  EXPECT_EQ(run_with(engine, {"--image", "a.png"}).document(),
            failure("recognition_failed", "Vision returned no recognition results."));
}

TEST_F(OcrFlow, DecodingIsCheckedBeforeLanguageAndLanguageBeforeRecognition) {
  engine.decodes = false;
  engine.detects_language = false;
  engine.recognition = Recognition{"boom", std::nullopt};
  EXPECT_EQ(run_with(engine, {"--image", "x.png", "--language", "zz"}).document()["category"], "invalid_input");
  EXPECT_EQ(engine.language_queries, 0);

  engine.decodes = true;
  EXPECT_EQ(run_with(engine, {"--image", "x.png", "--language", "zz"}).document()["category"], "unsupported_language");
  EXPECT_EQ(run_with(engine, {"--image", "x.png"}).document()["category"], "unsupported_language");
  EXPECT_FALSE(engine.settings_seen);
}

TEST_F(OcrFlow, ErrorBeforeMissingResults) {
  engine.recognition = Recognition{"first", std::nullopt};
  EXPECT_EQ(run_with(engine, {"--image", "a.png"}).document()["error"], "first");
}

TEST_F(OcrFlow, MessagesNameTheRecogniser) {
  engine.recogniser = "Tesseract";
  EXPECT_EQ(run_with(engine, {"--image", "a.png", "--language", "xx"}).document(),
            failure("unsupported_language", "The OCR language 'xx' is not supported by Tesseract."));
  engine.recognition = Recognition{std::nullopt, std::nullopt};
  EXPECT_EQ(run_with(engine, {"--image", "a.png"}).document(),
            failure("recognition_failed", "Tesseract returned no recognition results."));
  engine.languages = LanguageQuery{false, {}, "no data"};
  EXPECT_EQ(run_with(engine, {"--command", "capabilities"}).document(),
            failure("missing_component", "Tesseract text recognition is unavailable: no data"));
}

TEST_F(OcrFlow, CapabilitiesListLanguagesAndDetectionWithoutReadingTheImage) {
  const Outcome out = run_with(engine, {"--command", "capabilities", "--image", "a.png"});
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.document(), (json{{"ok", true}, {"languages", {"en-US", "fr-FR"}}, {"autoDetect", true}}));
  EXPECT_TRUE(engine.decoded_paths.empty());
}

TEST_F(OcrFlow, CapabilitiesOnSystemsWithoutLanguageListing) {
  engine.lists_languages = false;
  engine.detects_language = false;
  EXPECT_EQ(run_with(engine, {"--command", "capabilities"}).document(),
            (json{{"ok", true}, {"languages", json::array()}, {"autoDetect", false}}));
}

TEST_F(OcrFlow, CapabilitiesReportAFailedLanguageQuery) {
  engine.languages = LanguageQuery{false, {}, "no model"};
  EXPECT_EQ(run_with(engine, {"--command", "capabilities"}).document(),
            failure("missing_component", "Vision text recognition is unavailable: no model"));
}

TEST_F(OcrFlow, UnknownCommandRecognises) {
  run_with(engine, {"--command", "Capabilities", "--image", "a.png"});
  EXPECT_EQ(engine.decoded_paths, std::vector<std::string>{"a.png"});
}

TEST_F(OcrFlow, UnserialisableDocumentExitsTwoWithNothingWritten) {
  // Invalid UTF-8 in the path reaches the failure message.
  engine.decodes = false;
  const Outcome out = run_with(engine, {"--image", "bad\xff.png"});
  EXPECT_EQ(out.status, 2);
  EXPECT_TRUE(out.raw.empty());
}

class OcrOutputFile : public OcrFlow {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("ocr_flow_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::string read(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  std::filesystem::path dir;
};

TEST_F(OcrOutputFile, DocumentGoesToTheFileAndNothingToStandardOutput) {
  const auto path = dir / "out.json";
  std::ofstream(path) << "previous contents that are longer than the new document";
  engine.recognition.results = std::vector<Observation>{line(0.1, 0.5, 0.2, 0.1, "hello")};
  const Outcome out = run_with(engine, {"--image", "a.png", "--output", path.string()});
  EXPECT_EQ(out.status, 0);
  EXPECT_TRUE(out.raw.empty());
  EXPECT_EQ(read(path), R"({"ok":true,"text":"hello"})");
}

TEST_F(OcrOutputFile, FailuresGoToTheFileToo) {
  engine.decodes = false;
  const auto path = dir / "fail.json";
  const Outcome out = run_with(engine, {"--output", path.string(), "--image", "x"});
  EXPECT_TRUE(out.raw.empty());
  EXPECT_EQ(json::parse(read(path)), failure("invalid_input", "The image 'x' could not be decoded."));
}

TEST_F(OcrOutputFile, UnwritableOutputIsNotReportedAsSuccess) {
  const auto path = dir / "missing-dir" / "out.json";
  const Outcome out = run_with(engine, {"--image", "a.png", "--output", path.string()});
  EXPECT_EQ(out.status, 2);
  EXPECT_TRUE(out.raw.empty()) << "nothing is written elsewhere";
}

TEST_F(OcrOutputFile, EmptyOutputValueMeansStandardOutput) {
  const Outcome out = run_with(engine, {"--image", "a.png", "--output"});
  EXPECT_EQ(out.raw, R"({"ok":true,"text":""})");
}

}  // namespace
}  // namespace ocr_helper
