// Chord injection and key state on macOS: keyboard events posted through
// Core Graphics on the caller's thread, stamped with the injection marker.
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <vector>

#include "model/event.h"
#include "model/keys.h"
#include "platform/backend.h"
#include "platform/chord/chord.h"

namespace kmx::platform {
namespace macos {
namespace {

constexpr uint32_t FIRST_MODIFIER = 0xE0;
constexpr uint32_t LAST_MODIFIER = 0xE7;

bool is_modifier_usage(uint32_t usage) { return usage >= FIRST_MODIFIER && usage <= LAST_MODIFIER; }

std::optional<uint32_t> macos_keycode(uint32_t usage) {
  const model::KeyRow* row = is_modifier_usage(usage) ? model::modifier_by_usage(usage) : model::key_by_usage(usage);
  if (row == nullptr) return std::nullopt;
  return row->macos_keycode;
}

// Usage order E0..E7: control, shift, option, command, then the right-hand four.
CGEventFlags modifier_flag(uint32_t usage) {
  switch ((usage - FIRST_MODIFIER) % 4) {
    case 0:
      return kCGEventFlagMaskControl;
    case 1:
      return kCGEventFlagMaskShift;
    case 2:
      return kCGEventFlagMaskAlternate;
    default:
      return kCGEventFlagMaskCommand;
  }
}

// The hardware's state: what the user holds. Posting is asynchronous, so the combined session state may still
// show a key of this library's previous chord as down.
bool key_down(uint32_t code) {
  return CGEventSourceKeyState(kCGEventSourceStateHIDSystemState, static_cast<CGKeyCode>(code));
}

// The flags each chord event carries. Presses carry the chord's flags (and a modifier main key its own); a release
// carries the flags of the modifiers still held after it, so that a modifier's own release reads as a release.
class ChordFlags {
 public:
  ChordFlags(CGEventFlags chord, CGEventFlags held_by_user) : chord_(chord), user_(held_by_user) {}

  void know(uint32_t code, CGEventFlags flag) { flag_of_.push_back({code, flag}); }

  CGEventFlags for_step(const chord::ChordStep& step) const {
    if (step.press) return chord_ | flag_of(step.code);
    CGEventFlags flags = user_;
    bool skipped = false;
    for (const Key& k : down_) {
      if (!skipped && k.code == step.code) {
        skipped = true;
        continue;
      }
      flags |= k.flag;
    }
    return flags;
  }

  // Called once the step was posted.
  void posted(const chord::ChordStep& step) {
    if (step.press) {
      down_.push_back({step.code, flag_of(step.code)});
      return;
    }
    for (auto it = down_.begin(); it != down_.end(); ++it)
      if (it->code == step.code) {
        down_.erase(it);
        return;
      }
  }

 private:
  struct Key {
    uint32_t code;
    CGEventFlags flag;
  };
  CGEventFlags flag_of(uint32_t code) const {
    for (const Key& k : flag_of_)
      if (k.code == code) return k.flag;
    return 0;
  }

  CGEventFlags chord_;
  CGEventFlags user_;
  std::vector<Key> flag_of_;  // modifier key codes of this chord and their flags
  std::vector<Key> down_;     // keys this chord pressed and has not released
};

KmxError no_keycode(uint32_t usage) {
  return KmxError::unsupported("no macOS keycode for portable usage " + error::hex(usage));
}

// Releases the event source however the chord ends.
struct SourceGuard {
  CGEventSourceRef source;
  ~SourceGuard() { CFRelease(source); }
};

Status post_key(CGEventSourceRef source, CGKeyCode code, bool down, CGEventFlags flags) {
  CGEventRef event = CGEventCreateKeyboardEvent(source, code, down);
  if (event == nullptr) return KmxError::backend("CGEventCreateKeyboardEvent failed");
  CGEventSetFlags(event, flags);
  CGEventSetIntegerValueField(event, kCGEventSourceUserData, static_cast<int64_t>(model::INJECTION_MARKER));
  CGEventPost(kCGHIDEventTap, event);
  CFRelease(event);
  return {};
}

}  // namespace
}  // namespace macos

Status send_chord(DirectContext&, std::span<const uint32_t> modifiers, uint32_t key) {
  if (!AXIsProcessTrusted()) return KmxError::unsupported("keyboard injection requires the Accessibility permission");
  if (modifiers.size() > chord::MAX_CHORD_MODIFIERS) return KmxError::invalid_argument("at most 4 chord modifiers");

  const std::optional<uint32_t> main_code = macos::macos_keycode(key);
  if (!main_code) return macos::no_keycode(key);

  std::vector<uint32_t> modifier_codes;
  CGEventFlags flags = 0;
  for (uint32_t usage : modifiers) {
    const std::optional<uint32_t> code = macos::macos_keycode(usage);
    if (!code) return KmxError::unsupported("no macOS keycode for portable modifier " + error::hex(usage));
    if (!macos::is_modifier_usage(usage))
      return KmxError::invalid_argument("not a modifier usage: " + error::hex(usage));
    modifier_codes.push_back(*code);
    flags |= macos::modifier_flag(usage);
  }

  if (macos::key_down(*main_code)) return KmxError::backend(chord::main_key_held_message(key));
  std::vector<uint32_t> held;
  CGEventFlags held_flags = 0;
  for (size_t i = 0; i < modifier_codes.size(); ++i)
    if (macos::key_down(modifier_codes[i])) {
      held.push_back(modifier_codes[i]);
      held_flags |= macos::modifier_flag(modifiers[i]);
    }
  const std::vector<chord::ChordStep> plan = chord::plan_chord(held, modifier_codes, *main_code);
  macos::ChordFlags step_flags(flags, held_flags);
  for (size_t i = 0; i < modifier_codes.size(); ++i)
    step_flags.know(modifier_codes[i], macos::modifier_flag(modifiers[i]));
  if (macos::is_modifier_usage(key)) step_flags.know(*main_code, macos::modifier_flag(key));

  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  if (source == nullptr) return KmxError::not_delivered("CGEventSourceCreate failed before any chord event was posted");
  const macos::SourceGuard guard{source};

  size_t posted = 0;
  std::optional<KmxError> failed;
  for (const chord::ChordStep& step : plan) {
    Status sent = macos::post_key(source, static_cast<CGKeyCode>(step.code), step.press, step_flags.for_step(step));
    if (!sent) {
      failed = std::move(sent).error();
      break;
    }
    step_flags.posted(step);
    ++posted;
  }
  if (!failed) return {};
  if (posted == 0) return KmxError::not_delivered(failed->display());

  // Release what this chord pressed; keys the user held stay untouched.
  for (uint32_t code : chord::plan_cleanup(plan, posted)) {
    const chord::ChordStep release{code, false};
    (void)macos::post_key(source, static_cast<CGKeyCode>(code), false, step_flags.for_step(release));
    step_flags.posted(release);
  }
  return KmxError::delivery_uncertain("posted " + std::to_string(posted) + " of " + std::to_string(plan.size()) +
                                      " chord events before a later one failed: " + failed->display());
}

Result<std::vector<bool>> is_key_down_many(DirectContext&, std::span<const uint32_t> usages) {
  std::vector<bool> down;
  down.reserve(usages.size());
  for (uint32_t usage : usages) {
    const std::optional<uint32_t> code = macos::macos_keycode(usage);
    if (!code) return macos::no_keycode(usage);
    down.push_back(macos::key_down(*code));
  }
  return down;
}

}  // namespace kmx::platform
