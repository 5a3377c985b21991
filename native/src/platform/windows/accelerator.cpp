#include "platform/windows/accelerator.h"

#include <vector>

#include "hotkeys/accelerator_grammar.h"
#include "model/keys.h"
#include "model/unicode_trim.h"

namespace kmx::platform::windows {

namespace {

constexpr uint32_t MOD_ALT_BIT = 0x1;
constexpr uint32_t MOD_CONTROL_BIT = 0x2;
constexpr uint32_t MOD_SHIFT_BIT = 0x4;
constexpr uint32_t MOD_WIN_BIT = 0x8;
constexpr uint32_t MOD_NOREPEAT_BIT = 0x4000;

// The grammar's modifier bits onto the HotKey's.
uint32_t hotkey_mods(uint32_t accel_modifiers) noexcept {
  uint32_t mods = 0;
  if (accel_modifiers & hotkeys::ACCEL_ALT) mods |= HOTKEY_ALT;
  if (accel_modifiers & hotkeys::ACCEL_CONTROL) mods |= HOTKEY_CONTROL;
  if (accel_modifiers & hotkeys::ACCEL_SHIFT) mods |= HOTKEY_SHIFT;
  if (accel_modifiers & hotkeys::ACCEL_SUPER) mods |= HOTKEY_SUPER;
  return mods;
}

// A key code is the row index of its usage in the portable table.
std::optional<KeyCode> key_code_of_usage(uint32_t usage) noexcept {
  const model::KeyRow* row = model::key_by_usage(usage);
  if (!row) return std::nullopt;
  return static_cast<KeyCode>(row - model::PORTABLE_KEYS.data());
}

bool is_meta_word(std::string_view piece) noexcept {
  constexpr std::string_view META = "META";
  if (piece.size() != META.size()) return false;
  for (size_t i = 0; i < META.size(); ++i) {
    const char c = piece[i] >= 'a' && piece[i] <= 'z' ? static_cast<char>(piece[i] - 'a' + 'A') : piece[i];
    if (c != META[i]) return false;
  }
  return true;
}

// "Meta" is a modifier word of the shared grammar but not of the Windows
// one, where it is read as a key name and so is unrecognised. Walks the
// pieces as the grammar does and stops where the grammar would fail first.
std::optional<KmxError> windows_only_refusal(std::string_view text) {
  if (text.find('+') == std::string_view::npos) return std::nullopt;
  bool key_seen = false;
  for (size_t start = 0;;) {
    const size_t plus = text.find('+', start);
    const std::string_view piece =
        model::trim_white_space(text.substr(start, plus == std::string_view::npos ? plus : plus - start));
    if (piece.empty() || key_seen) return std::nullopt;
    if (is_meta_word(piece)) {
      std::string reason = "unrecognised key \"";
      reason += piece;
      reason += '"';
      return KmxError::invalid_argument(std::move(reason));
    }
    if (hotkeys::modifier_word_bit(piece) == 0) key_seen = true;
    if (plus == std::string_view::npos) return std::nullopt;
    start = plus + 1;
  }
}

}  // namespace

size_t key_code_count() noexcept { return model::PORTABLE_KEYS.size(); }

std::string_view key_code_name(KeyCode key) noexcept {
  return key < model::PORTABLE_KEYS.size() ? model::PORTABLE_KEYS[key].name : std::string_view("Unidentified");
}

uint16_t key_code_vk(KeyCode key) noexcept {
  if (key >= model::PORTABLE_KEYS.size()) return 0;
  return static_cast<uint16_t>(model::PORTABLE_KEYS[key].windows_vk.value_or(0));
}

std::optional<KeyCode> key_code_from_name(std::string_view name) {
  return key_code_of_usage(hotkeys::key_name_usage(name));
}

HotKey HotKey::make(uint32_t mods, KeyCode key) noexcept {
  if (mods & HOTKEY_META) mods = (mods & ~HOTKEY_META) | HOTKEY_SUPER;
  return HotKey{mods, key, (mods << 16) | key};
}

uint32_t HotKey::native_modifiers() const noexcept {
  uint32_t native = MOD_NOREPEAT_BIT;
  if (mods & HOTKEY_ALT) native |= MOD_ALT_BIT;
  if (mods & HOTKEY_CONTROL) native |= MOD_CONTROL_BIT;
  if (mods & HOTKEY_SHIFT) native |= MOD_SHIFT_BIT;
  if (mods & (HOTKEY_SUPER | HOTKEY_META)) native |= MOD_WIN_BIT;
  return native;
}

std::string HotKey::debug() const {
  std::vector<std::string_view> names;
  if (mods & HOTKEY_ALT) names.push_back("Alt");
  if (mods & HOTKEY_CONTROL) names.push_back("Control");
  if (mods & HOTKEY_SHIFT) names.push_back("Shift");
  if (mods & HOTKEY_SUPER) names.push_back("Super");
  std::string m;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i) m += " | ";
    m += names[i];
  }
  if (names.empty()) m = "(none)";
  return "HotKey { mods: " + m + ", key: " + std::string(key_code_name(key)) + ", id: " + std::to_string(id) + " }";
}

Result<HotKey> parse_accelerator(std::string_view text) {
  if (auto refusal = windows_only_refusal(text)) return std::move(*refusal);
  auto parsed = hotkeys::parse_accelerator_text(text);
  if (!parsed) return std::move(parsed).error();
  const std::optional<KeyCode> key = key_code_of_usage(parsed->usage);
  if (!key) {
    // Unreachable while the grammar only yields usages of table rows.
    std::string reason = "no key code for usage ";
    reason += error::hex(parsed->usage);
    return KmxError::invalid_argument(std::move(reason));
  }
  return HotKey::make(hotkey_mods(parsed->modifiers), *key);
}

}  // namespace kmx::platform::windows
