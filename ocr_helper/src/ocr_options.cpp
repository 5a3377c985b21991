#include "ocr_options.h"

namespace ocr_helper {

namespace {

std::string* option_slot(Options& options, const std::string& name) {
  if (name == "--command") return &options.command;
  if (name == "--image") return &options.image;
  if (name == "--language") return &options.language;
  if (name == "--output") return &options.output;
  return nullptr;
}

}  // namespace

Options parse_options(std::span<const std::string> args) {
  Options options;
  std::size_t i = 1;
  while (i < args.size()) {
    std::string* slot = option_slot(options, args[i]);
    if (slot == nullptr) {
      ++i;
      continue;
    }
    *slot = i + 1 < args.size() ? args[i + 1] : std::string();
    i += 2;
  }
  return options;
}

}  // namespace ocr_helper
