// How X11 key and button numbers become event fields. Pure.
#pragma once

#include <cstdint>
#include <optional>

namespace kmx::platform::x11 {

// KMX_MOD_* role of a key from its first keysym: Control_L/R control,
// Shift_L/R shift, Alt_L/R and Meta_L/R alt, Super_L/R and Hyper_L/R meta.
uint32_t modifier_role_for_keysym(uint32_t keysym) noexcept;

// KMX_BUTTON_* for an X button number: 1 left, 3 right, 2 middle, 8 and up
// other. The wheel (4 to 7) and 0 give nothing.
std::optional<uint8_t> button_for_x(uint32_t x_button) noexcept;

}  // namespace kmx::platform::x11
