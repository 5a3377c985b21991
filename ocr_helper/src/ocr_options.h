#pragma once

#include <span>
#include <string>

namespace ocr_helper {

// Program-wide parameters, filled from the command line.
struct Options {
  std::string command = "recognize";
  std::string image;
  std::string language;  // empty: automatic detection
  std::string output;    // empty: standard output
};

// Reads options from args (args[0] is the program path). Unknown arguments
// are skipped one at a time; an option given last takes the empty value.
Options parse_options(std::span<const std::string> args);

}  // namespace ocr_helper
