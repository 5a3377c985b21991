#include "platform/wayland/portal_keys.h"

#include <xkbcommon/xkbcommon.h>

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"

namespace kmx::platform::portal {

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
  const model::KeyRow* row = model::any_by_usage(usage);
  return row ? row->evdev_code : 0;
}

}  // namespace kmx::platform::portal
