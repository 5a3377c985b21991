#include "platform/windows/accelerator.h"

#include <array>
#include <cctype>
#include <vector>

#include "model/keys.h"

namespace kmx::platform::windows {

namespace {

constexpr uint32_t MOD_ALT_BIT = 0x1;
constexpr uint32_t MOD_CONTROL_BIT = 0x2;
constexpr uint32_t MOD_SHIFT_BIT = 0x4;
constexpr uint32_t MOD_WIN_BIT = 0x8;
constexpr uint32_t MOD_NOREPEAT_BIT = 0x4000;

struct Alias {
  std::string_view text;
  std::string_view key_name;
};

// Short forms beside the key names; single letters and digits are handled
// by rule, punctuation characters are listed.
constexpr std::array<Alias, 40> ALIASES{{
    {"-", "Minus"},          {"=", "Equal"},          {"[", "BracketLeft"},   {"]", "BracketRight"},
    {"\\", "Backslash"},     {";", "Semicolon"},      {"'", "Quote"},         {"`", "Backquote"},
    {",", "Comma"},          {".", "Period"},         {"/", "Slash"},         {"UP", "ArrowUp"},
    {"DOWN", "ArrowDown"},   {"LEFT", "ArrowLeft"},   {"RIGHT", "ArrowRight"}, {"ESC", "Escape"},
    {"RETURN", "Enter"},     {"DEL", "Delete"},       {"INS", "Insert"},      {"PGUP", "PageUp"},
    {"PGDN", "PageDown"},    {"CAPS", "CapsLock"},    {"NUM0", "Numpad0"},    {"NUM1", "Numpad1"},
    {"NUM2", "Numpad2"},     {"NUM3", "Numpad3"},     {"NUM4", "Numpad4"},    {"NUM5", "Numpad5"},
    {"NUM6", "Numpad6"},     {"NUM7", "Numpad7"},     {"NUM8", "Numpad8"},    {"NUM9", "Numpad9"},
    {"NUMADD", "NumpadAdd"}, {"NUMSUBTRACT", "NumpadSubtract"}, {"NUMMULTIPLY", "NumpadMultiply"},
    {"NUMDIVIDE", "NumpadDivide"}, {"NUMDECIMAL", "NumpadDecimal"}, {"NUMENTER", "NumpadEnter"},
    {"PRINTSCR", "PrintScreen"}, {"BACK", "Backspace"},
}};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

std::optional<KeyCode> find_exact(std::string_view upper_name) {
  for (size_t i = 0; i < model::PORTABLE_KEYS.size(); ++i) {
    if (upper(model::PORTABLE_KEYS[i].name) == upper_name) return static_cast<KeyCode>(i);
  }
  return std::nullopt;
}

std::optional<uint32_t> modifier_word(std::string_view upper_piece) {
  if (upper_piece == "ALT" || upper_piece == "OPTION") return HOTKEY_ALT;
  if (upper_piece == "CTRL" || upper_piece == "CONTROL") return HOTKEY_CONTROL;
  if (upper_piece == "SHIFT") return HOTKEY_SHIFT;
  if (upper_piece == "CMD" || upper_piece == "COMMAND" || upper_piece == "SUPER") return HOTKEY_SUPER;
  if (upper_piece == "CMDORCTRL" || upper_piece == "CMDORCONTROL" || upper_piece == "COMMANDORCTRL" ||
      upper_piece == "COMMANDORCONTROL")
    return HOTKEY_CONTROL;
  return std::nullopt;
}

KmxError unrecognised(std::string_view piece) {
  return KmxError::invalid_argument("unrecognised key \"" + std::string(piece) + "\" in hotkey");
}

KmxError bad_format(std::string_view text) {
  return KmxError::invalid_argument("invalid hotkey format \"" + std::string(text) +
                                    "\": expected modifiers followed by exactly one key");
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
  const std::string u = upper(name);
  if (auto code = find_exact(u)) return code;
  if (u.size() == 1 && ((u[0] >= 'A' && u[0] <= 'Z'))) return find_exact(std::string("KEY") + u);
  if (u.size() == 1 && u[0] >= '0' && u[0] <= '9') return find_exact(std::string("DIGIT") + u);
  for (const Alias& a : ALIASES) {
    if (a.text == u) return find_exact(upper(a.key_name));
  }
  return std::nullopt;
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
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    pieces.push_back(text.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start));
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }

  if (pieces.size() == 1) {
    auto key = key_code_from_name(text);
    if (!key) return unrecognised(text);
    return HotKey::make(0, *key);
  }

  uint32_t mods = 0;
  std::optional<KeyCode> key;
  for (std::string_view raw : pieces) {
    const std::string_view piece = trim(raw);
    if (piece.empty())
      return KmxError::invalid_argument("empty token in hotkey \"" + std::string(text) + "\"");
    if (key) return bad_format(text);
    if (auto bit = modifier_word(upper(piece))) {
      mods |= *bit;
      continue;
    }
    key = key_code_from_name(piece);
    if (!key) return unrecognised(piece);
  }
  if (!key) return bad_format(text);
  return HotKey::make(mods, *key);
}

}  // namespace kmx::platform::windows
