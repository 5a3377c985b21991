#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "spell_engine.h"
#include "spell_options.h"

namespace spell_helper {

inline constexpr int EXIT_WRITTEN = 0;
inline constexpr int EXIT_NOT_WRITTEN = 2;

// Larger input files are refused unread ({"ok": false}).
inline constexpr std::uint64_t MAX_INPUT_BYTES = 32ull * 1024 * 1024;

// Runs one command, writing its JSON document to the output file only.
// Returns the process exit status.
int run(const Options& options, SpellChecker& checker);

int run_program(std::span<const std::string> args, SpellChecker& checker);

}  // namespace spell_helper
