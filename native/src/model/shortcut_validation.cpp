#include "model/shortcut_validation.h"

#include <string>
#include <unordered_set>

#include "model/unicode_trim.h"

namespace kmx::model {

namespace {

// Only A..Z: platforms fold case in ASCII only, so É and é stay two keys.
std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

Status validate_shortcuts(const ShortcutList& shortcuts) {
  std::unordered_set<uint64_t> ids;
  std::unordered_set<std::string> accelerators;
  for (const Shortcut& shortcut : shortcuts) {
    if (!ids.insert(shortcut.id).second) {
      return KmxError::invalid_argument("duplicate shortcut id " + std::to_string(shortcut.id));
    }
    const std::string_view trimmed = trim_white_space(shortcut.accelerator);
    if (trimmed.empty()) {
      return KmxError::invalid_argument("shortcut " + std::to_string(shortcut.id) + " has an empty accelerator");
    }
    if (!accelerators.insert(ascii_lower(trimmed)).second) {
      return KmxError::invalid_argument("duplicate accelerator " + shortcut.accelerator);
    }
  }
  return {};
}

}  // namespace kmx::model
