#include "platform/x11/x11_accelerator.h"

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"

namespace kmx::platform::x11 {

Result<Accelerator> parse_accelerator(std::string_view text) {
  auto parsed = hotkeys::parse_accelerator_text(text);
  if (!parsed) return KmxError::invalid_argument(std::string(text) + ": " + parsed.error().message());
  unsigned modifiers = 0;
  if (parsed->modifiers & hotkeys::ACCEL_SHIFT) modifiers |= MOD_SHIFT;
  if (parsed->modifiers & hotkeys::ACCEL_CONTROL) modifiers |= MOD_CONTROL;
  if (parsed->modifiers & hotkeys::ACCEL_ALT) modifiers |= MOD_ALT;
  if (parsed->modifiers & hotkeys::ACCEL_SUPER) modifiers |= MOD_SUPER;
  const model::KeyRow* row = model::key_by_usage(parsed->usage);
  return Accelerator{modifiers, parsed->usage, row ? row->x11_keysym.value_or(0) : 0};
}

std::string canonical_text(const Accelerator& accelerator) {
  std::string out;
  if (accelerator.modifiers & MOD_ALT) out += "Alt+";
  if (accelerator.modifiers & MOD_CONTROL) out += "Control+";
  if (accelerator.modifiers & MOD_SHIFT) out += "Shift+";
  if (accelerator.modifiers & MOD_SUPER) out += "Super+";
  const model::KeyRow* row = model::key_by_usage(accelerator.usage);
  out += row ? std::string(row->name) : error::hex(accelerator.usage);
  return out;
}

std::string normalize_accelerator(std::string_view text) {
  auto parsed = parse_accelerator(text);
  if (parsed) return canonical_text(parsed.value());
  // Lower case keeps it apart from every canonical text, which starts with a capital.
  std::string out = "invalid:";
  for (char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

}  // namespace kmx::platform::x11
