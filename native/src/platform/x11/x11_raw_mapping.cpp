#include "platform/x11/x11_raw_mapping.h"

#include <keymux/keymux.h>

namespace kmx::platform::x11 {

uint32_t modifier_role_for_keysym(uint32_t keysym) noexcept {
  switch (keysym) {
    case 0xFFE3:  // Control_L
    case 0xFFE4:  // Control_R
      return KMX_MOD_CONTROL;
    case 0xFFE1:  // Shift_L
    case 0xFFE2:  // Shift_R
      return KMX_MOD_SHIFT;
    case 0xFFE9:  // Alt_L
    case 0xFFEA:  // Alt_R
    case 0xFFE7:  // Meta_L
    case 0xFFE8:  // Meta_R
      return KMX_MOD_ALT;
    case 0xFFEB:  // Super_L
    case 0xFFEC:  // Super_R
    case 0xFFED:  // Hyper_L
    case 0xFFEE:  // Hyper_R
      return KMX_MOD_META;
    default:
      return KMX_MOD_NONE;
  }
}

std::optional<uint8_t> button_for_x(uint32_t x_button) noexcept {
  switch (x_button) {
    case 1:
      return static_cast<uint8_t>(KMX_BUTTON_LEFT);
    case 2:
      return static_cast<uint8_t>(KMX_BUTTON_MIDDLE);
    case 3:
      return static_cast<uint8_t>(KMX_BUTTON_RIGHT);
    case 0:
    case 4:
    case 5:
    case 6:
    case 7:
      return std::nullopt;
    default:
      return static_cast<uint8_t>(KMX_BUTTON_OTHER);
  }
}

}  // namespace kmx::platform::x11
