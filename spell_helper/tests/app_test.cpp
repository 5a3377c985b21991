#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "scripted_checker.h"
#include "spell_app.h"
#include "temp_folder.h"

namespace spell_helper {
namespace {

using nlohmann::json;
using testing::ScriptedChecker;
using testing::TempFolder;

class SpellApp : public ::testing::Test {
 protected:
  int run_with(std::vector<std::string> args) {
    args.insert(args.begin(), "spell_helper");
    return run_program(args, checker);
  }
  json result() const { return json::parse(TempFolder::read(out)); }

  ScriptedChecker checker;
  TempFolder folder{"spell_app"};
  const std::string out = folder.file("r.json");
};

TEST_F(SpellApp, NoArgumentsExitTwoAndWriteNothing) {
  EXPECT_EQ(run_with({}), 2);
  EXPECT_EQ(run_with({"--command", "languages"}), 2);
}

TEST_F(SpellApp, OutputAloneWritesTheLanguageList) {
  EXPECT_EQ(run_with({"--output", out}), 0);
  EXPECT_EQ(TempFolder::read(out), R"({"languages":["en","en_GB","de"],"ok":true})");
}

TEST_F(SpellApp, CheckReportsFindingsWithUtf16Offsets) {
  const std::string input = folder.write("t.txt", "\xF0\x9F\x98\x80 teh");
  checker.misspellings = {TextRange{3, 3}};
  checker.guess_list = std::vector<std::string>{"the", "tech"};
  EXPECT_EQ(run_with({"--command", "check", "--input", input, "--output", out, "--language", "en"}), 0);
  EXPECT_EQ(
      result(),
      (json{{"ok", true},
            {"findings", {{{"start", 3}, {"length", 3}, {"original", "teh"}, {"suggestions", {"the", "tech"}}}}}}));
}

TEST_F(SpellApp, EmptyInputGivesNoFindings) {
  const std::string input = folder.write("empty.txt", "");
  EXPECT_EQ(run_with({"--command", "check", "--input", input, "--output", out, "--language", "de"}), 0);
  EXPECT_EQ(TempFolder::read(out), R"({"findings":[],"ok":true})");
}

TEST_F(SpellApp, RefusalsStillWriteOkFalse) {
  const std::string input = folder.write("t.txt", "text");
  const std::string bad_utf8 = folder.write("bad.txt", "caf\xE9");
  const std::vector<std::vector<std::string>> cases{
      {"--command", "check", "--input", input, "--output", out, "--language", "xx"},
      {"--command", "check", "--input", input, "--output", out, "--language", "EN"},
      {"--command", "check", "--input", input, "--output", out},
      {"--command", "check", "--output", out, "--language", "en"},
      {"--command", "check", "--input", folder.file("missing.txt"), "--output", out, "--language", "en"},
      {"--command", "check", "--input", folder.file(""), "--output", out, "--language", "en"},
      {"--command", "check", "--input", bad_utf8, "--output", out, "--language", "en"},
      {"--command", "spell", "--output", out},
  };
  for (const auto& args : cases) {
    std::filesystem::remove(out);
    EXPECT_EQ(run_with(args), 0) << args[1] << " " << args.back();
    EXPECT_EQ(TempFolder::read(out), R"({"ok":false})") << args.back();
  }
}

TEST_F(SpellApp, LanguageIsCheckedBeforeTheInputIsRead) {
  EXPECT_EQ(run_with({"--command", "check", "--input", folder.file("missing"), "--output", out, "--language", "xx"}),
            0);
  EXPECT_TRUE(checker.offsets_asked.empty());
}

TEST_F(SpellApp, InconsistentCheckerDropsFindingsGatheredSoFar) {
  const std::string input = folder.write("t.txt", "abcd efgh");
  checker.misspellings = {TextRange{0, 4}, TextRange{5, 9}};
  EXPECT_EQ(run_with({"--command", "check", "--input", input, "--output", out, "--language", "en"}), 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

TEST_F(SpellApp, UnwritableOutputExitsTwo) {
  EXPECT_EQ(run_with({"--output", folder.file("no/such/dir.json")}), 2);
  EXPECT_EQ(run_with({"--output", folder.file("")}), 2) << "a folder is not a writable file";
}

TEST_F(SpellApp, OutputFileIsReplaced) {
  folder.write("r.json", std::string(500, 'x'));
  EXPECT_EQ(run_with({"--command", "nothing", "--output", out}), 0);
  EXPECT_EQ(TempFolder::read(out), R"({"ok":false})");
}

TEST_F(SpellApp, UnserialisableLanguageNameExitsTwoWithoutWriting) {
  checker.languages = {"bad\xFF"};
  EXPECT_EQ(run_with({"--output", out}), 2);
  EXPECT_FALSE(TempFolder::exists(out));
}

}  // namespace
}  // namespace spell_helper
