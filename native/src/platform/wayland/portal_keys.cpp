#include "platform/wayland/portal_keys.h"

#include <xkbcommon/xkbcommon.h>

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"

namespace kmx::platform::portal {

namespace {

// The reference US keymap, compiled once; null without xkb-data.
xkb_keymap* us_keymap() {
  static xkb_keymap* const keymap = [] {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
    if (!context) return static_cast<xkb_keymap*>(nullptr);
    const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
    xkb_keymap* made = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    return made;
  }();
  return keymap;
}

// The symbol Shift gives the key at evdev_code, when it is no letter and
// differs from the unshifted one; 0 otherwise.
xkb_keysym_t shifted_symbol(xkb_keymap* keymap, uint32_t evdev_code) {
  const xkb_keycode_t code = evdev_code + 8;
  const xkb_keysym_t* base = nullptr;
  const xkb_keysym_t* shifted = nullptr;
  if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &base) != 1) return 0;
  if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 1, &shifted) != 1) return 0;
  const xkb_keysym_t sym = shifted[0];
  if (sym == base[0] || xkb_keysym_to_lower(sym) != sym || xkb_keysym_to_upper(sym) != sym) return 0;
  return sym;
}

}  // namespace

Result<std::string> shortcut_trigger(std::string_view accelerator, ShiftStyle style) {
  auto parsed = hotkeys::parse_accelerator_text(accelerator);
  if (!parsed) return KmxError::invalid_argument(std::string(accelerator) + ": " + parsed.error().message());
  const model::KeyRow* row = model::key_by_usage(parsed->usage);
  char name[64] = {};
  if (!row || !row->x11_keysym || xkb_keysym_get_name(*row->x11_keysym, name, sizeof name) <= 0)
    return KmxError::invalid_argument(std::string(accelerator) + ": no portal name for this key");
  bool shift = parsed->modifiers & hotkeys::ACCEL_SHIFT;
  if (shift && style == ShiftStyle::ShiftedSymbol) {
    xkb_keymap* keymap = us_keymap();
    if (!keymap)
      return KmxError::unsupported(std::string(accelerator) +
                                   ": KDE matches Shift with this key by its shifted symbol, and the US keymap "
                                   "(xkb-data) that names it is not installed");
    if (const xkb_keysym_t sym = shifted_symbol(keymap, row->evdev_code)) {
      if (xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        return KmxError::invalid_argument(std::string(accelerator) + ": no portal name for this key");
      shift = false;
    }
  }
  std::string out;
  if (parsed->modifiers & hotkeys::ACCEL_CONTROL) out += "CTRL+";
  if (parsed->modifiers & hotkeys::ACCEL_ALT) out += "ALT+";
  if (shift) out += "SHIFT+";
  if (parsed->modifiers & hotkeys::ACCEL_SUPER) out += "LOGO+";
  return out + name;
}

uint32_t evdev_code(uint32_t usage) {
  const model::KeyRow* row = model::any_by_usage(usage);
  return row ? row->evdev_code : 0;
}

}  // namespace kmx::platform::portal
