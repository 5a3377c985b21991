#pragma once

#include <ostream>
#include <span>
#include <string>

#include "ocr_engine.h"
#include "ocr_options.h"

namespace ocr_helper {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_NO_DOCUMENT = 2;

// Runs one command and writes its JSON document to `out` or the --output
// file. Returns the process exit status.
int run(const Options& options, Engine& engine, std::ostream& out);

// Parses the arguments and runs; main() is this plus the platform engine.
int run_program(std::span<const std::string> args, Engine& engine, std::ostream& out);

}  // namespace ocr_helper
