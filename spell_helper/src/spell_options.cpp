#include "spell_options.h"

namespace spell_helper {

namespace {

std::string* option_slot(Options& options, const std::string& name) {
  if (name == "--command") return &options.command;
  if (name == "--input") return &options.input;
  if (name == "--output") return &options.output;
  if (name == "--language") return &options.language;
  return nullptr;
}

}  // namespace

Options parse_options(std::span<const std::string> args) {
  Options options;
  if (args.size() < 3) return options;
  for (std::size_t i = 1; i + 1 < args.size(); i += 2) {
    if (std::string* slot = option_slot(options, args[i])) *slot = args[i + 1];
  }
  return options;
}

}  // namespace spell_helper
