#include "platform/wayland/portal_keys.h"

#include <xkbcommon/xkbcommon.h>

#include <map>
#include <mutex>

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"

namespace kmx::platform::portal {

namespace {

// X key codes are evdev codes plus 8 on every keymap of the evdev rules.
constexpr uint32_t EVDEV_OFFSET = 8;

// keysym -> key code of the reference US keymap, every level searched (the
// keypad's digits sit on level 2).
std::map<uint32_t, uint32_t> reference_keycodes() {
  std::map<uint32_t, uint32_t> out;
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (!context) return out;
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap) {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap); ++code) {
      const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, 0);
      for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int n = xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms);
        for (int i = 0; i < n; ++i) out.emplace(syms[i], code);  // the first key wins
      }
    }
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(context);
  return out;
}

}  // namespace

Result<std::string> shortcut_trigger(std::string_view accelerator) {
  auto parsed = hotkeys::parse_accelerator_text(accelerator);
  if (!parsed) return KmxError::invalid_argument(std::string(accelerator) + ": " + parsed.error().message());
  const model::KeyRow* row = model::key_by_usage(parsed->usage);
  char name[64] = {};
  if (!row || !row->x11_keysym || xkb_keysym_get_name(*row->x11_keysym, name, sizeof name) <= 0)
    return KmxError::invalid_argument(std::string(accelerator) + ": no portal name for this key");
  std::string out;
  if (parsed->modifiers & hotkeys::ACCEL_CONTROL) out += "CTRL+";
  if (parsed->modifiers & hotkeys::ACCEL_ALT) out += "ALT+";
  if (parsed->modifiers & hotkeys::ACCEL_SHIFT) out += "SHIFT+";
  if (parsed->modifiers & hotkeys::ACCEL_SUPER) out += "LOGO+";
  return out + name;
}

uint32_t evdev_code(uint32_t usage) {
  static std::once_flag once;
  static std::map<uint32_t, uint32_t> keycodes;
  std::call_once(once, [] { keycodes = reference_keycodes(); });
  const model::KeyRow* row = model::any_by_usage(usage);
  if (!row || !row->x11_keysym) return 0;
  const auto found = keycodes.find(*row->x11_keysym);
  return found == keycodes.end() || found->second < EVDEV_OFFSET ? 0 : found->second - EVDEV_OFFSET;
}

}  // namespace kmx::platform::portal
