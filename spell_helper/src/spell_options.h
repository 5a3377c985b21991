#pragma once

#include <span>
#include <string>

namespace spell_helper {

struct Options {
  std::string command = "languages";
  std::string input;
  std::string output;
  std::string language;
};

// Reads option/value pairs from args (args[0] is the program path). Pairs are
// taken strictly two at a time: an unknown option swallows its partner and a
// trailing unpaired element is ignored.
Options parse_options(std::span<const std::string> args);

}  // namespace spell_helper
