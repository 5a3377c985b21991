#include <gtest/gtest.h>

#include "spell_options.h"

namespace spell_helper {
namespace {

Options parse(std::vector<std::string> args) {
  args.insert(args.begin(), "spell_helper");
  return parse_options(args);
}

TEST(SpellOptions, DefaultsWithoutArguments) {
  const Options o = parse({});
  EXPECT_EQ(o.command, "languages");
  EXPECT_EQ(o.input, "");
  EXPECT_EQ(o.output, "");
  EXPECT_EQ(o.language, "");
}

TEST(SpellOptions, FewerThanThreeElementsKeepDefaults) { EXPECT_EQ(parse({"--output"}).output, ""); }

TEST(SpellOptions, PairsInAnyOrder) {
  const Options o =
      parse({"--language", "en", "--output", "/tmp/r.json", "--input", "/tmp/t.txt", "--command", "check"});
  EXPECT_EQ(o.command, "check");
  EXPECT_EQ(o.input, "/tmp/t.txt");
  EXPECT_EQ(o.output, "/tmp/r.json");
  EXPECT_EQ(o.language, "en");
}

TEST(SpellOptions, UnknownOptionSwallowsItsPartnerAndTrailingElementIsIgnored) {
  const Options o = parse({"--command", "check", "--bogus", "--input", "a.txt"});
  EXPECT_EQ(o.command, "check");
  EXPECT_EQ(o.input, "");
}

TEST(SpellOptions, PairsAreNotRealignedAfterAStrayElement) {
  // "x" takes "--output" as its partner; "/tmp/r.json" then stands in option position.
  const Options o = parse({"x", "--output", "/tmp/r.json", "--language"});
  EXPECT_EQ(o.output, "");
  EXPECT_EQ(o.language, "");
}

TEST(SpellOptions, LastOccurrenceWins) { EXPECT_EQ(parse({"--language", "en", "--language", "de"}).language, "de"); }

TEST(SpellOptions, ValuesMayLookLikeOptions) {
  const Options o = parse({"--input", "--output", "--output", "r.json"});
  EXPECT_EQ(o.input, "--output");
  EXPECT_EQ(o.output, "r.json");
}

TEST(SpellOptions, NamesAreCaseSensitive) { EXPECT_EQ(parse({"--Output", "r.json"}).output, ""); }

}  // namespace
}  // namespace spell_helper
