#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "child_process.h"
#include "image_file.h"
#include "leptonica_image.h"
#include "tesseract_engine.h"

namespace ocr_helper {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class TesseractProgram : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("ocr_program_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // Two rows of two columns, rendered upright.
    render("convert -size 900x220 xc:white -font " + std::string(FONT) +
           " -pointsize 32 -fill black -annotate +30+70 alpha -annotate +600+70 bravo"
           " -annotate +30+170 charlie -annotate +600+170 delta " +
           path("page.png"));
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }

  static std::string path(const std::string& name) { return (dir / name).string(); }
  static void render(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }
  static std::string read(const std::string& file) {
    std::ifstream f(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }
  static std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
  }
  static testing::ChildResult ocr(const std::vector<std::string>& args) {
    return testing::run_child(OCR_HELPER_PATH, args);
  }

  inline static fs::path dir;
  const std::vector<std::string> expected_words{"alpha", "bravo", "charlie", "delta"};
};

TEST_F(TesseractProgram, TwoColumnPageReadsInReadingOrder) {
  const auto run = ocr({"--image", path("page.png"), "--language", "eng"});
  ASSERT_EQ(run.status, 0);
  ASSERT_FALSE(run.out.empty());
  EXPECT_NE(run.out.back(), '\n');
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["ok"], true) << run.out;
  const std::string text = doc["text"];
  EXPECT_EQ(words(text), expected_words);
  EXPECT_LT(text.find("bravo"), text.find('\n')) << "the top row is one line before the next: " << text;
}

TEST_F(TesseractProgram, LanguageTagsResolveToTesseractNames) {
  for (const std::string tag : {"en", "en-US", "EN-gb", "en_US"}) {
    const json doc = json::parse(ocr({"--image", path("page.png"), "--language", tag}).out);
    ASSERT_EQ(doc["ok"], true) << tag << ": " << doc;
    EXPECT_EQ(words(doc["text"]), expected_words) << tag;
  }
  const json doc = json::parse(ocr({"--image", path("page.png"), "--language", "xx-YY"}).out);
  EXPECT_EQ(doc["error"], "The OCR language 'xx-YY' is not supported by Tesseract.");
}

// Lines of a page, each opening with its number so that the order shows.
std::string numbered_lines(int first, int count, const std::string& filler) {
  std::string text;
  for (int i = first; i < first + count; ++i) text += std::to_string(i) + " " + filler + "\n";
  return text;
}

std::vector<int> line_numbers(const std::string& text) {
  std::vector<int> numbers;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && std::isdigit(static_cast<unsigned char>(l[0]))) numbers.push_back(std::stoi(l));
  }
  return numbers;
}

std::vector<int> range(int first, int count) {
  std::vector<int> v;
  for (int i = first; i < first + count; ++i) v.push_back(i);
  return v;
}

TEST_F(TesseractProgram, SingleSpacedPageWithHeadingAndTwoColumnsReadsInOrder) {
  // A4 at 150 dpi, 11 pt type: lines 23 px apart, closer than 2% of the page.
  // ImageMagick's policy forbids reading text from files: the lines go inline.
  const std::string body = numbered_lines(10, 24, "Lorem ipsum dolor sit amet, consectetur adipiscing elit.");
  const std::string left = numbered_lines(40, 12, "Vivamus porta");
  const std::string right = numbered_lines(60, 12, "Quisque magna");
  render("convert -size 1240x1754 xc:white -density 150 -font " + std::string(FONT) +
         " -fill black -pointsize 24 -annotate +120+140 'Chapter Heading' -pointsize 11 -annotate +120+220 '" + body +
         "' -annotate +120+1000 '" + left + "' -annotate +680+1000 '" + right + "' " + path("a4.png"));
  const json doc = json::parse(ocr({"--image", path("a4.png"), "--language", "eng"}).out);
  ASSERT_EQ(doc["ok"], true) << doc;
  const std::string text = doc["text"];
  EXPECT_EQ(text.rfind("Chapter Heading", 0), 0u) << text;
  std::vector<int> expected = range(10, 24);
  for (int row = 0; row < 12; ++row) {
    expected.push_back(40 + row);
    expected.push_back(60 + row);
  }
  EXPECT_EQ(line_numbers(text), expected) << text;
}

const std::string ARTICLE_LEFT =
    "Keyboard shortcuts let people work without reaching for the mouse. A good shortcut is easy to remember, "
    "hard to press by accident and never taken by another program. When two programs want the same keys, the "
    "one that asked first keeps them and the other must choose again.";
const std::string ARTICLE_RIGHT =
    "Spelling checks run on the text a person has written, one word after another. A checker that flags names, "
    "paths and abbreviations teaches its users to ignore it, which is worse than no checker at all. Real typos "
    "are rare and should stand out.";
const std::string ARTICLE_TEXT = "Two short essays " + ARTICLE_LEFT + " " + ARTICLE_RIGHT;

// Each column wrapped by ImageMagick into 520 px, a 60 px gutter, a title across both.
void render_article(const std::string& file) {
  const std::string font = FONT;
  const std::string command = "convert -size 1240x1000 xc:white \\( -size 520x -font " + font +
                              " -pointsize 22 -background white caption:'" + ARTICLE_LEFT +
                              "' \\) -geometry +60+160 -composite \\( -size 520x -font " + font +
                              " -pointsize 22 -background white caption:'" + ARTICLE_RIGHT +
                              "' \\) -geometry +640+160 -composite -font " + font +
                              " -pointsize 40 -annotate +60+100 'Two short essays' " + file;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(TesseractProgram, TwoColumnArticleReadsColumnByColumn) {
  render_article(path("article.png"));
  const json doc = json::parse(ocr({"--image", path("article.png"), "--language", "eng"}).out);
  ASSERT_EQ(doc["ok"], true) << doc;
  EXPECT_EQ(words(doc["text"]), words(ARTICLE_TEXT)) << doc["text"];
}

TEST_F(TesseractProgram, UntaggedTurnedScanIsTurnedUprightAndATagWins) {
  render_article(path("article.png"));
  for (const std::string degrees : {"90", "180", "270"}) {
    const std::string turned = path("article" + degrees + ".png");
    render("convert " + path("article.png") + " -rotate " + degrees + " " + turned);
    const json doc = json::parse(ocr({"--image", turned, "--language", "eng"}).out);
    ASSERT_EQ(doc["ok"], true) << doc;
    EXPECT_EQ(words(doc["text"]), words(ARTICLE_TEXT)) << degrees << ": " << doc["text"];
  }
  // Without a language too: orientation is settled before the languages are.
  const json detected = json::parse(ocr({"--image", path("article180.png")}).out);
  EXPECT_EQ(words(detected.value("text", "")), words(ARTICLE_TEXT)) << detected;

  // A JPEG that says it is upright is taken at its word.
  render("convert " + path("article180.png") + " " + path("upside.jpg"));
  std::string jpeg = read(path("upside.jpg"));
  const std::string app1(
      "\xFF\xE1\x00\x22"
      "Exif\0\0"
      "MM\x00\x2A\x00\x00\x00\x08"
      "\x00\x01"
      "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x01\x00\x00"
      "\x00\x00\x00\x00",
      36);
  jpeg.insert(2, app1);
  std::ofstream(path("upside_tagged.jpg"), std::ios::binary) << jpeg;
  const json tagged = json::parse(ocr({"--image", path("upside_tagged.jpg"), "--language", "eng"}).out);
  EXPECT_NE(words(tagged.value("text", "")), words(ARTICLE_TEXT)) << tagged;
  const json untagged = json::parse(ocr({"--image", path("upside.jpg"), "--language", "eng"}).out);
  EXPECT_EQ(words(untagged.value("text", "")), words(ARTICLE_TEXT)) << untagged;
}

TEST_F(TesseractProgram, ImageBeyondTesseractsSizeLimitIsScaledWithBoxesKept) {
  linux_engine::PixPtr page(pixRead(path("page.png").c_str()));
  ASSERT_TRUE(page);
  const int width = 40000;
  const int height = pixGetHeight(page.get());
  linux_engine::PixPtr wide(pixCreate(width, height, pixGetDepth(page.get())));
  ASSERT_TRUE(wide);
  pixSetAll(wide.get());  // white
  const int x = 30000;
  pixRasterop(wide.get(), x, 0, pixGetWidth(page.get()), height, PIX_SRC, page.get(), 0, 0);
  ASSERT_EQ(pixWrite(path("wide.png").c_str(), wide.get(), IFF_PNG), 0);

  const json doc = json::parse(ocr({"--image", path("wide.png"), "--language", "eng"}).out);
  ASSERT_EQ(doc["ok"], true) << doc;
  EXPECT_EQ(words(doc["text"]), expected_words);

  linux_engine::TesseractEngine engine;
  const auto image = engine.decode(path("wide.png"));
  ASSERT_TRUE(image);
  const Recognition result = engine.recognize(*image, RecognitionSettings{{"eng"}, false});
  ASSERT_TRUE(result.results);
  ASSERT_FALSE(result.results->empty());
  for (const Observation& o : *result.results) {
    EXPECT_GT(o.box.min_x(), (x - 10.0) / width) << o.best_candidate.value_or("");
    EXPECT_LT(o.box.min_x() + o.box.width, (x + 900.0) / width);
  }
}

TEST_F(TesseractProgram, NoLanguageDetectsTheScript) {
  render("convert -size 1100x220 xc:white -font " + std::string(FONT) +
         " -pointsize 32 -fill black -annotate +30+70 'Съешь же ещё этих мягких булок' -annotate +30+170 "
         "'да выпей чаю и вернись домой' " +
         path("cyrillic.png"));
  const json doc = json::parse(ocr({"--image", path("cyrillic.png")}).out);
  ASSERT_EQ(doc["ok"], true) << doc;
  EXPECT_NE(doc["text"].get<std::string>().find("мягких булок"), std::string::npos) << doc;
}

TEST_F(TesseractProgram, NoLanguageTriesTheUsersLanguageFirst) {
  render("convert -size 1200x220 xc:white -font " + std::string(FONT) +
         " -pointsize 32 -fill black -annotate +30+70 'Zwölf Boxkämpfer jagen Viktor quer' -annotate +30+170 "
         "'über den großen Sylter Deich.' " +
         path("german.png"));
  const char* saved = std::getenv("LANG");
  const std::string previous = saved ? saved : "";
  ::unsetenv("LC_ALL");
  ::setenv("LANG", "de_DE.UTF-8", 1);
  const json doc = json::parse(ocr({"--image", path("german.png")}).out);
  if (saved)
    ::setenv("LANG", previous.c_str(), 1);
  else
    ::unsetenv("LANG");
  ASSERT_EQ(doc["ok"], true) << doc;
  const std::string text = doc["text"];
  EXPECT_NE(text.find("Boxkämpfer"), std::string::npos) << text;
  EXPECT_NE(text.find("großen"), std::string::npos) << text;
}

TEST_F(TesseractProgram, NoLanguageUsesTheInstalledLanguages) {
  const auto run = ocr({"--image", path("page.png")});
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["ok"], true) << run.out;
  EXPECT_EQ(words(doc["text"]), expected_words);
}

TEST_F(TesseractProgram, JpegTaggedWithOrientationSixStillReads) {
  render("convert " + path("page.png") + " -rotate -90 " + path("raw.jpg"));
  std::string jpeg = read(path("raw.jpg"));
  ASSERT_GT(jpeg.size(), 2u);
  // EXIF APP1 right after SOI: big-endian TIFF block with Orientation = 6.
  const std::string app1(
      "\xFF\xE1\x00\x22"
      "Exif\0\0"
      "MM\x00\x2A\x00\x00\x00\x08"
      "\x00\x01"
      "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
      "\x00\x00\x00\x00",
      36);
  jpeg.insert(2, app1);
  std::ofstream(path("turned.jpg"), std::ios::binary) << jpeg;

  const auto unturned = ocr({"--image", path("raw.jpg"), "--language", "eng"});
  EXPECT_NE(words(json::parse(unturned.out).value("text", "")), expected_words) << "the rotation matters";

  const auto run = ocr({"--image", path("turned.jpg"), "--language", "eng"});
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["ok"], true) << run.out;
  EXPECT_EQ(words(doc["text"]), expected_words);
}

TEST_F(TesseractProgram, TiffTaggedWithOrientationSixStillReads) {
  render("convert " + path("page.png") + " -rotate -90 -orient RightTop " + path("turned.tif"));
  const auto run = ocr({"--image", path("turned.tif"), "--language", "eng"});
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["ok"], true) << run.out;
  EXPECT_EQ(words(doc["text"]), expected_words);
}

TEST_F(TesseractProgram, BlankImageGivesEmptyText) {
  render("convert -size 200x100 xc:white " + path("blank.png"));
  const auto run = ocr({"--image", path("blank.png"), "--language", "eng"});
  EXPECT_EQ(run.out, R"({"ok":true,"text":""})");
}

TEST_F(TesseractProgram, UndecodableFileIsInvalidInput) {
  std::ofstream(path("notes.png")) << "this is not an image\n";
  for (const std::string& image : {path("notes.png"), path("missing.png"), dir.string()}) {
    const auto run = ocr({"--image", image});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(json::parse(run.out), (json{{"ok", false},
                                          {"category", "invalid_input"},
                                          {"error", "The image '" + image + "' could not be decoded."}}));
  }
}

TEST_F(TesseractProgram, StreamsDevicesAndHugeFilesAreRefusedAtOnce) {
  const std::string fifo = path("stream.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A real image padded past the size limit: it would decode if it were read.
  const std::string huge = path("huge.png");
  fs::copy_file(path("page.png"), huge);
  fs::resize_file(huge, MAX_IMAGE_FILE_BYTES + 1);
  for (const std::string& image : {fifo, std::string("/dev/zero"), huge}) {
    // Bounded by timeout(1) so that a hang fails the test instead of stalling it.
    const auto run = testing::run_child("/usr/bin/timeout", {"60", OCR_HELPER_PATH, "--image", image});
    EXPECT_EQ(run.status, 0) << image;
    EXPECT_EQ(json::parse(run.out, nullptr, false), (json{{"ok", false},
                                                          {"category", "invalid_input"},
                                                          {"error", "The image '" + image + "' could not be decoded."}}))
        << image << ": " << run.out;
  }
  fs::resize_file(huge, MAX_IMAGE_FILE_BYTES);
  EXPECT_EQ(json::parse(ocr({"--image", huge, "--language", "eng"}).out)["ok"], true) << "the limit itself is allowed";
}

TEST_F(TesseractProgram, UnknownLanguageIsRefusedExactly) {
  const auto run = ocr({"--image", path("page.png"), "--language", "ENG"});
  EXPECT_EQ(json::parse(run.out), (json{{"ok", false},
                                        {"category", "unsupported_language"},
                                        {"error", "The OCR language 'ENG' is not supported by Tesseract."}}));
}

TEST_F(TesseractProgram, CapabilitiesListInstalledLanguages) {
  const auto run = ocr({"--command", "capabilities", "--image", "/nonexistent"});
  EXPECT_EQ(run.status, 0);
  const json doc = json::parse(run.out);
  EXPECT_EQ(doc["ok"], true);
  EXPECT_EQ(doc["autoDetect"], true);
  const auto languages = doc["languages"].get<std::vector<std::string>>();
  EXPECT_NE(std::find(languages.begin(), languages.end(), "eng"), languages.end());
  EXPECT_EQ(std::find(languages.begin(), languages.end(), "osd"), languages.end());
}

TEST_F(TesseractProgram, OutputFileReceivesTheDocumentAndStandardOutputStaysEmpty) {
  const auto run = ocr({"--image", path("page.png"), "--language", "eng", "--output", path("result.json")});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(words(json::parse(read(path("result.json")))["text"]), expected_words);
}

TEST_F(TesseractProgram, NoArgumentsReportTheEmptyPath) {
  const auto run = ocr({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(json::parse(run.out),
            (json{{"ok", false}, {"category", "invalid_input"}, {"error", "The image '' could not be decoded."}}));
}

}  // namespace
}  // namespace ocr_helper
