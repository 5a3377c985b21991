#include "platform/chord/chord.h"

#include <algorithm>

#include "error/kmx_error.h"

namespace kmx::platform::chord {

namespace {

bool contains(std::span<const uint32_t> codes, uint32_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

}  // namespace

std::vector<ChordStep> plan_chord(std::span<const uint32_t> held, std::span<const uint32_t> modifiers,
                                  uint32_t main_key) {
  std::vector<ChordStep> plan;
  plan.reserve(2 * modifiers.size() + 2);
  std::vector<uint32_t> pressed;
  pressed.reserve(modifiers.size());

  for (uint32_t code : modifiers) {
    // A key the user holds is theirs: pressing or releasing it would steal it.
    if (contains(held, code) || contains(pressed, code)) continue;
    plan.push_back({code, true});
    pressed.push_back(code);
  }
  plan.push_back({main_key, true});
  plan.push_back({main_key, false});
  for (auto it = pressed.rbegin(); it != pressed.rend(); ++it) plan.push_back({*it, false});
  return plan;
}

std::vector<uint32_t> plan_cleanup(std::span<const ChordStep> plan, size_t posted) {
  std::vector<uint32_t> still_down;
  const size_t delivered = std::min(posted, plan.size());
  for (size_t i = delivered; i-- > 0;) {
    if (!plan[i].press) continue;
    const uint32_t code = plan[i].code;
    // Each delivered press whose key saw no delivered release counts once,
    // so a main key sharing a modifier's code is released twice; a second
    // release of a key already up is harmless.
    auto release =
        std::find_if(plan.begin(), plan.end(), [code](const ChordStep& s) { return !s.press && s.code == code; });
    const auto release_index = static_cast<size_t>(release - plan.begin());
    if (release == plan.end() || release_index >= delivered) still_down.push_back(code);
  }
  return still_down;
}

std::string main_key_held_message(uint32_t usage) {
  return "main chord key " + error::hex(usage) +
         " is physically held; declining to inject rather than risk releasing a key the user still owns";
}

}  // namespace kmx::platform::chord
