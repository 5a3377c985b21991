// Chord injection with SendInput and key state with GetAsyncKeyState, on
// the caller's thread.
#include <windows.h>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/event.h"
#include "model/keys.h"
#include "platform/backend.h"
#include "platform/chord/chord.h"
#include "platform/windows/direct_context.h"
#include "platform/windows/integrity.h"
#include "platform/windows/scan_codes.h"
#include "platform/windows/win32_seam.h"

namespace kmx::platform {

// The injection marker travels in dwExtraInfo and the records go out with
// the size argument 40: both only hold in a 64-bit build.
static_assert(sizeof(ULONG_PTR) == 8, "keymux_native is a 64-bit library");
static_assert(sizeof(INPUT) == 40, "INPUT records are 40 bytes in a 64-bit build");

namespace {

// The scan code of each virtual key of one chord.
using ScanMap = std::unordered_map<uint32_t, windows::ScanCode>;

std::optional<uint32_t> virtual_key(uint32_t usage) {
  const model::KeyRow* row =
      (usage >= 0xE0 && usage <= 0xE7) ? model::modifier_by_usage(usage) : model::key_by_usage(usage);
  if (row == nullptr) return std::nullopt;
  return row->windows_vk;
}

bool vk_down(uint32_t vk) noexcept { return ::GetAsyncKeyState(static_cast<int>(vk)) < 0; }

// The layout of the thread that will read the chord: scan codes of
// layout-dependent keys follow it.
HKL foreground_layout() noexcept {
  HWND foreground = ::GetForegroundWindow();
  const DWORD thread = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
  return ::GetKeyboardLayout(thread);
}

// Virtual keys repeat across usages (both Controls are VK_CONTROL, both
// Enters VK_RETURN); a key pressed once takes the scan code of the first
// usage that asked for it, the modifiers before the main key.
ScanMap scan_codes(std::span<const uint32_t> modifiers, std::span<const uint32_t> modifier_vks, uint32_t key,
                   uint32_t main_vk) {
  const HKL layout = foreground_layout();
  ScanMap scans;
  for (size_t i = 0; i < modifiers.size(); ++i)
    scans.try_emplace(modifier_vks[i], windows::scan_code_for(modifiers[i], modifier_vks[i], layout));
  scans.try_emplace(main_vk, windows::scan_code_for(key, main_vk, layout));
  return scans;
}

// The virtual key, its scan code and extended flag, and the marker.
INPUT key_input(const chord::ChordStep& step, const ScanMap& scans) {
  const windows::ScanCode scan = scans.at(step.code);
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = static_cast<WORD>(step.code);
  in.ki.wScan = scan.code;
  in.ki.dwFlags = (step.press ? 0 : KEYEVENTF_KEYUP) | (scan.extended ? KEYEVENTF_EXTENDEDKEY : 0);
  in.ki.dwExtraInfo = static_cast<ULONG_PTR>(model::INJECTION_MARKER);
  return in;
}

// Number of records SendInput inserted, sent in one call.
UINT send_steps(const std::vector<chord::ChordStep>& steps, const ScanMap& scans) {
  std::vector<INPUT> inputs;
  inputs.reserve(steps.size());
  for (const auto& step : steps) inputs.push_back(key_input(step, scans));
  return windows::win32().send_input(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace

Status send_chord(DirectContext&, std::span<const uint32_t> modifiers, uint32_t key) {
  if (modifiers.size() > chord::MAX_CHORD_MODIFIERS) return KmxError::invalid_argument("at most 4 chord modifiers");
  const auto main_vk = virtual_key(key);
  if (!main_vk) return KmxError::unsupported("no Windows virtual key for portable usage " + error::hex(key));
  std::vector<uint32_t> modifier_vks;
  for (uint32_t usage : modifiers) {
    const auto vk = virtual_key(usage);
    if (!vk) return KmxError::unsupported("no Windows virtual key for portable modifier " + error::hex(usage));
    modifier_vks.push_back(*vk);
  }
  if (vk_down(*main_vk)) return KmxError::backend(chord::main_key_held_message(key));

  std::vector<uint32_t> held;
  for (uint32_t vk : modifier_vks) {
    if (vk_down(vk) && (held.empty() || held.back() != vk)) held.push_back(vk);
  }

  const auto plan = chord::plan_chord(held, modifier_vks, *main_vk);
  if (plan.empty()) return {};
  if (auto refusal = windows::foreground_refuses_input()) return KmxError::delivery_uncertain(std::move(*refusal));
  const ScanMap scans = scan_codes(modifiers, modifier_vks, key, *main_vk);
  const size_t total = plan.size();
  const size_t delivered = send_steps(plan, scans);
  if (delivered >= total) return {};
  if (delivered == 0) return KmxError::not_delivered("SendInput delivered 0 of " + std::to_string(total) + " inputs");

  std::vector<chord::ChordStep> cleanup;
  for (uint32_t vk : chord::plan_cleanup(plan, delivered)) cleanup.push_back({vk, false});
  const bool cleaned = cleanup.empty() || send_steps(cleanup, scans) == cleanup.size();
  return KmxError::delivery_uncertain("SendInput delivered " + std::to_string(delivered) + " of " +
                                      std::to_string(total) + " inputs; best-effort cleanup of " +
                                      std::to_string(cleanup.size()) + " key(s) " + (cleaned ? "succeeded" : "failed"));
}

Result<std::vector<bool>> is_key_down_many(DirectContext&, std::span<const uint32_t> usages) {
  std::vector<bool> down;
  down.reserve(usages.size());
  for (uint32_t usage : usages) {
    const auto vk = virtual_key(usage);
    if (!vk) return KmxError::unsupported("no Windows virtual key for portable usage " + error::hex(usage));
    if (*vk < 1 || *vk > 255) return KmxError::invalid_argument("invalid key vk " + error::hex(*vk));
    down.push_back(vk_down(*vk));
  }
  return down;
}

}  // namespace kmx::platform
