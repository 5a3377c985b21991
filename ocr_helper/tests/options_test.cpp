#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ocr_options.h"

namespace ocr_helper {
namespace {

Options parse(std::vector<std::string> args) {
  args.insert(args.begin(), "ocr_helper");
  return parse_options(args);
}

TEST(OcrOptions, NoArgumentsKeepDefaults) {
  const Options o = parse({});
  EXPECT_EQ(o.command, "recognize");
  EXPECT_EQ(o.image, "");
  EXPECT_EQ(o.language, "");
  EXPECT_EQ(o.output, "");
}

TEST(OcrOptions, AllFourOptionsInAnyOrder) {
  const Options o =
      parse({"--output", "/tmp/o.json", "--language", "en-US", "--image", "a.png", "--command", "capabilities"});
  EXPECT_EQ(o.command, "capabilities");
  EXPECT_EQ(o.image, "a.png");
  EXPECT_EQ(o.language, "en-US");
  EXPECT_EQ(o.output, "/tmp/o.json");
}

TEST(OcrOptions, TrailingOptionTakesEmptyValue) {
  EXPECT_EQ(parse({"--image", "a.png", "--image"}).image, "");
  EXPECT_EQ(parse({"--language", "en-US", "--language"}).language, "");
  EXPECT_EQ(parse({"--command"}).command, "");
}

TEST(OcrOptions, UnknownArgumentIsSkippedByOne) {
  // "-v" is skipped alone, so "--image" right after it is still read as an option.
  const Options o = parse({"-v", "--image", "a.png"});
  EXPECT_EQ(o.image, "a.png");
  const Options p = parse({"stray", "--language", "de-DE", "extra"});
  EXPECT_EQ(p.language, "de-DE");
}

TEST(OcrOptions, ValueIsTakenEvenWhenItLooksLikeAnOption) {
  const Options o = parse({"--image", "--language", "x"});
  EXPECT_EQ(o.image, "--language");
  EXPECT_EQ(o.language, "");
}

TEST(OcrOptions, LaterOccurrenceReplacesEarlier) {
  EXPECT_EQ(parse({"--image", "a.png", "--image", "b.png"}).image, "b.png");
}

TEST(OcrOptions, OptionNamesAreCaseSensitiveAndExact) {
  const Options o = parse({"--IMAGE", "a.png", "--image=b.png", "-image", "c.png"});
  EXPECT_EQ(o.image, "");
}

}  // namespace
}  // namespace ocr_helper
