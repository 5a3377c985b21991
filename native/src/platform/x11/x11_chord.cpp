// Chord injection through XTest and key state through XQueryKeymap, on the
// caller's thread over the direct connection.
#include <array>
#include <optional>

#include "model/keys.h"
#include "platform/chord/chord.h"
#include "platform/x11/x11_direct.h"
#include "platform/x11/x11_display.h"

namespace kmx::platform::x11 {

namespace {

using Keymap = std::array<char, 32>;

unsigned keycode_of(Display* display, const model::KeyRow* row) {
  if (!row || !row->x11_keysym) return 0;
  return XKeysymToKeycode(display, *row->x11_keysym);
}

bool is_down(const Keymap& keymap, unsigned keycode) {
  return keycode < 256 && (static_cast<unsigned char>(keymap[keycode / 8]) >> (keycode % 8)) & 1u;
}

Keymap query_keymap(Display* display) {
  Keymap keymap{};
  XQueryKeymap(display, keymap.data());
  return keymap;
}

// Posts one transition and waits for the server to take it, so a failure is
// attributed to the step that caused it.
std::optional<KmxError> post_key(DirectContext& ctx, x11::ErrorTrap& trap, unsigned keycode, bool press) {
  ctx.ledger->record(keycode, press);
  const bool sent = XTestFakeKeyEvent(ctx.display, keycode, press ? True : False, CurrentTime);
  const int code = trap.sync();
  if (sent && code == 0) return std::nullopt;
  ctx.ledger->cancel_last(keycode, press);
  if (!sent) return KmxError::backend("XTestFakeKeyEvent failed");
  return KmxError::backend("XTestFakeKeyEvent failed: " + x11::error_text(ctx.display, code));
}

}  // namespace

Result<void> send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key) {
  std::lock_guard lock(ctx.mu);
  if (!ctx.has_xtest) return KmxError::unsupported("keyboard injection requires the XTEST extension");
  if (modifiers.size() > chord::MAX_CHORD_MODIFIERS) return KmxError::invalid_argument("at most 4 chord modifiers");
  x11::drain_mapping_events(ctx.display);

  const unsigned main = keycode_of(ctx.display, model::any_by_usage(key));
  if (main == 0) return KmxError::unsupported("no X11 keycode for portable usage " + error::hex(key));
  std::vector<uint32_t> codes;
  for (uint32_t usage : modifiers) {
    const unsigned code = keycode_of(ctx.display, model::any_by_usage(usage));
    if (code == 0) return KmxError::unsupported("no X11 keycode for portable modifier " + error::hex(usage));
    if (!model::modifier_by_usage(usage))
      return KmxError::invalid_argument("not a modifier usage: " + error::hex(usage));
    codes.push_back(code);
  }

  const Keymap keymap = query_keymap(ctx.display);
  if (is_down(keymap, main)) return KmxError::backend(chord::main_key_held_message(key));
  std::vector<uint32_t> held;
  for (uint32_t code : codes) {
    if (is_down(keymap, code)) held.push_back(code);
  }
  const auto plan = chord::plan_chord(held, codes, main);

  x11::ErrorTrap trap(ctx.display);
  size_t posted = 0;
  std::optional<KmxError> failure;
  for (const chord::ChordStep& step : plan) {
    failure = post_key(ctx, trap, step.code, step.press);
    if (failure) break;
    ++posted;
  }
  if (!failure) return {};
  if (posted == 0) return KmxError::not_delivered(failure->display());
  for (uint32_t code : chord::plan_cleanup(plan, posted)) post_key(ctx, trap, code, false);
  return KmxError::delivery_uncertain("posted " + std::to_string(posted) + " of " + std::to_string(plan.size()) +
                                      " chord events before a later one failed: " + failure->display());
}

Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages) {
  std::lock_guard lock(ctx.mu);
  x11::drain_mapping_events(ctx.display);
  std::vector<unsigned> codes;
  for (uint32_t usage : usages) {
    const unsigned code = keycode_of(ctx.display, model::any_by_usage(usage));
    if (code == 0) return KmxError::unsupported("no X11 keycode for portable usage " + error::hex(usage));
    codes.push_back(code);
  }
  const Keymap keymap = query_keymap(ctx.display);
  std::vector<bool> out;
  for (unsigned code : codes) out.push_back(is_down(keymap, code));
  return out;
}

}  // namespace kmx::platform::x11
