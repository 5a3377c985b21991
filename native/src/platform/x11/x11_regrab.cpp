#include "platform/x11/x11_regrab.h"

#include <algorithm>

#include "platform/x11/x11_accelerator.h"

namespace kmx::platform::x11 {

bool grabs_out_of_date(const hotkeys::HotkeySet<X11Registrar>& set, KeyPositions& positions, unsigned lock_bits) {
  for (const auto& [canonical, registration] : set.active()) {
    const auto parsed = parse_accelerator(canonical);
    if (!parsed) continue;
    if (registration.handle.locks != lock_bits || registration.handle.keycode != positions.keycode(parsed->usage))
      return true;
  }
  return false;
}

std::vector<std::string> retake_hotkeys(hotkeys::HotkeySet<X11Registrar>& set, X11Registrar& registrar) {
  // Canonical texts parse back to the same hot key, so they serve as the list.
  model::ShortcutList all;
  for (const auto& [canonical, registration] : set.active()) all.push_back({canonical, "", registration.id});
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.accelerator < b.accelerator; });
  set.clear(registrar);
  if (set.apply(registrar, all)) return {};

  // One refusal rolls the whole apply back: add them one at a time instead.
  std::vector<std::string> left_out;
  model::ShortcutList kept;
  for (const model::Shortcut& shortcut : all) {
    kept.push_back(shortcut);
    if (!set.apply(registrar, kept)) {
      left_out.push_back(shortcut.accelerator);
      kept.pop_back();
    }
  }
  return left_out;
}

}  // namespace kmx::platform::x11
