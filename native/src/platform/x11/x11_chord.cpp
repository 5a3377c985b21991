// Chord injection through XTest and key state through XQueryKeymap, on the
// caller's thread over the direct connection.
#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "model/keys.h"
#include "platform/chord/chord.h"
#include "platform/x11/x11_direct.h"
#include "platform/x11/x11_display.h"

namespace kmx::platform::x11 {

namespace {

using Keymap = std::array<char, 32>;

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
std::optional<KmxError> post_key(DirectContext& ctx, unsigned keycode, bool press) {
  ctx.ledger->record(keycode, press);
  x11::RequestBatch batch(ctx.display);
  batch.add(xcb_test_fake_input_checked(batch.connection(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE,
                                        static_cast<uint8_t>(keycode), XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0));
  const int code = batch.check();
  if (code == 0) return std::nullopt;
  ctx.ledger->cancel_last(keycode, press);
  if (code == x11::RequestBatch::LOST) return x11::lost_error(ctx.display);
  return KmxError::backend("XTestFakeKeyEvent failed: " + x11::error_text(ctx.display, code));
}

// A chord that types one of this library's hot keys activates its grab,
// which freezes the keyboard until the worker hands it back: the chord's
// releases wait in the server meanwhile. Waiting (bounded) until they are
// through keeps the next chord and key-state query from finding the
// chord's keys still down.
void settle(Display* display, std::span<const chord::ChordStep> plan) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(250);
  for (;;) {
    const Keymap keymap = query_keymap(display);
    if (x11::connection_lost(display)) return;
    bool through = true;
    for (const chord::ChordStep& step : plan) through = through && (step.press || !is_down(keymap, step.code));
    if (through || Clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
}

}  // namespace

Result<void> send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key) {
  std::lock_guard lock(ctx.mu);
  x11::SigpipeGuard no_sigpipe;
  if (!ctx.has_xtest) return KmxError::unsupported("keyboard injection requires the XTEST extension");
  if (modifiers.size() > chord::MAX_CHORD_MODIFIERS) return KmxError::invalid_argument("at most 4 chord modifiers");
  // Reading the connection also finds out whether its server is still there.
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);
  ctx.positions.take_notices();
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);

  const unsigned main = ctx.positions.keycode(key);
  if (main == 0) return KmxError::unsupported("no X11 keycode for portable usage " + error::hex(key));
  std::vector<uint32_t> codes;
  for (uint32_t usage : modifiers) {
    const unsigned code = ctx.positions.keycode(usage);
    if (code == 0) return KmxError::unsupported("no X11 keycode for portable modifier " + error::hex(usage));
    if (!model::modifier_by_usage(usage))
      return KmxError::invalid_argument("not a modifier usage: " + error::hex(usage));
    codes.push_back(code);
  }

  const Keymap keymap = query_keymap(ctx.display);
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);
  if (is_down(keymap, main)) return KmxError::backend(chord::main_key_held_message(key));
  std::vector<uint32_t> held;
  for (uint32_t code : codes) {
    if (is_down(keymap, code)) held.push_back(code);
  }
  const auto plan = chord::plan_chord(held, codes, main);

  auto posted = chord::post_plan(plan, [&ctx](uint32_t code, bool press) { return post_key(ctx, code, press); });
  if (posted) settle(ctx.display, plan);
  return posted;
}

Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages) {
  std::lock_guard lock(ctx.mu);
  x11::SigpipeGuard no_sigpipe;
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);
  ctx.positions.take_notices();
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);
  std::vector<unsigned> codes;
  for (uint32_t usage : usages) {
    const unsigned code = ctx.positions.keycode(usage);
    if (code == 0) return KmxError::unsupported("no X11 keycode for portable usage " + error::hex(usage));
    codes.push_back(code);
  }
  const Keymap keymap = query_keymap(ctx.display);
  if (x11::connection_lost(ctx.display)) return x11::lost_error(ctx.display);
  std::vector<bool> out;
  for (unsigned code : codes) out.push_back(is_down(keymap, code));
  return out;
}

}  // namespace kmx::platform::x11
