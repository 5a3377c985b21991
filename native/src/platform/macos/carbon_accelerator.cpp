#include "platform/macos/carbon_accelerator.h"

#include <span>
#include <string_view>
#include <vector>

#include "model/unicode_trim.h"

namespace kmx::platform::macos {
namespace {

struct Token {
  std::string_view name;  // upper-case ASCII
  uint32_t value;
};

constexpr Token MODIFIER_TOKENS[] = {
    {"CMD", CARBON_CMD},       {"COMMAND", CARBON_CMD},  {"META", CARBON_CMD},
    {"SUPER", CARBON_CMD},     {"SHIFT", CARBON_SHIFT},  {"ALT", CARBON_OPTION},
    {"OPTION", CARBON_OPTION}, {"CTRL", CARBON_CONTROL}, {"CONTROL", CARBON_CONTROL},
};

// The portable key names (upper-cased) with the short forms UP, DOWN, LEFT,
// RIGHT, ESC and RETURN, mapped to Carbon virtual key codes. Keys Carbon
// hot keys cannot use (Insert, CapsLock, NumLock, NumpadEnter, PrintScreen,
// ScrollLock, Pause, F21-F24) are left out on purpose.
constexpr Token KEY_TOKENS[] = {
    {"A", 0x00},
    {"B", 0x0B},
    {"C", 0x08},
    {"D", 0x02},
    {"E", 0x0E},
    {"F", 0x03},
    {"G", 0x05},
    {"H", 0x04},
    {"I", 0x22},
    {"J", 0x26},
    {"K", 0x28},
    {"L", 0x25},
    {"M", 0x2E},
    {"N", 0x2D},
    {"O", 0x1F},
    {"P", 0x23},
    {"Q", 0x0C},
    {"R", 0x0F},
    {"S", 0x01},
    {"T", 0x11},
    {"U", 0x20},
    {"V", 0x09},
    {"W", 0x0D},
    {"X", 0x07},
    {"Y", 0x10},
    {"Z", 0x06},

    {"0", 0x1D},
    {"1", 0x12},
    {"2", 0x13},
    {"3", 0x14},
    {"4", 0x15},
    {"5", 0x17},
    {"6", 0x16},
    {"7", 0x1A},
    {"8", 0x1C},
    {"9", 0x19},
    {"DIGIT0", 0x1D},
    {"DIGIT1", 0x12},
    {"DIGIT2", 0x13},
    {"DIGIT3", 0x14},
    {"DIGIT4", 0x15},
    {"DIGIT5", 0x17},
    {"DIGIT6", 0x16},
    {"DIGIT7", 0x1A},
    {"DIGIT8", 0x1C},
    {"DIGIT9", 0x19},

    {"F1", 0x7A},
    {"F2", 0x78},
    {"F3", 0x63},
    {"F4", 0x76},
    {"F5", 0x60},
    {"F6", 0x61},
    {"F7", 0x62},
    {"F8", 0x64},
    {"F9", 0x65},
    {"F10", 0x6D},
    {"F11", 0x67},
    {"F12", 0x6F},
    {"F13", 0x69},
    {"F14", 0x6B},
    {"F15", 0x71},
    {"F16", 0x6A},
    {"F17", 0x40},
    {"F18", 0x4F},
    {"F19", 0x50},
    {"F20", 0x5A},

    {"UP", 0x7E},
    {"ARROWUP", 0x7E},
    {"DOWN", 0x7D},
    {"ARROWDOWN", 0x7D},
    {"LEFT", 0x7B},
    {"ARROWLEFT", 0x7B},
    {"RIGHT", 0x7C},
    {"ARROWRIGHT", 0x7C},
    {"ENTER", 0x24},
    {"RETURN", 0x24},
    {"ESC", 0x35},
    {"ESCAPE", 0x35},
    {"TAB", 0x30},
    {"SPACE", 0x31},
    {"BACKSPACE", 0x33},
    {"DELETE", 0x75},
    {"HOME", 0x73},
    {"END", 0x77},
    {"PAGEUP", 0x74},
    {"PAGEDOWN", 0x79},

    {"MINUS", 0x1B},
    {"EQUAL", 0x18},
    {"BRACKETLEFT", 0x21},
    {"BRACKETRIGHT", 0x1E},
    {"BACKSLASH", 0x2A},
    {"SEMICOLON", 0x29},
    {"QUOTE", 0x27},
    {"BACKQUOTE", 0x32},
    {"COMMA", 0x2B},
    {"PERIOD", 0x2F},
    {"SLASH", 0x2C},

    {"NUMPAD0", 0x52},
    {"NUMPAD1", 0x53},
    {"NUMPAD2", 0x54},
    {"NUMPAD3", 0x55},
    {"NUMPAD4", 0x56},
    {"NUMPAD5", 0x57},
    {"NUMPAD6", 0x58},
    {"NUMPAD7", 0x59},
    {"NUMPAD8", 0x5B},
    {"NUMPAD9", 0x5C},
    {"NUMPADADD", 0x45},
    {"NUMPADSUBTRACT", 0x4E},
    {"NUMPADMULTIPLY", 0x43},
    {"NUMPADDIVIDE", 0x4B},
    {"NUMPADDECIMAL", 0x41},
};

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

const Token* find(std::span<const Token> table, std::string_view name) {
  for (const Token& t : table)
    if (t.name == name) return &t;
  return nullptr;
}

// Cuts at every '+'; empty pieces are kept.
std::vector<std::string_view> split_plus(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    if (plus == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, plus - start));
    start = plus + 1;
  }
}

KmxError unsupported_key(std::string_view piece) {
  return KmxError::invalid_argument("unsupported macOS key: " + std::string(piece));
}

}  // namespace

std::string normalize_accel(const std::string& accelerator) {
  std::string out;
  out.reserve(accelerator.size());
  bool first = true;
  for (std::string_view piece : split_plus(accelerator)) {
    if (!first) out += '+';
    first = false;
    for (char c : model::trim_white_space(piece)) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

Result<CarbonCombo> parse_accelerator(const std::string& accelerator) {
  CarbonCombo combo;
  bool have_key = false;
  for (std::string_view raw : split_plus(accelerator)) {
    const std::string_view piece = model::trim_white_space(raw);
    if (const Token* m = find(MODIFIER_TOKENS, ascii_upper(piece))) {
      combo.modifiers |= m->value;
      continue;
    }
    if (have_key) return KmxError::invalid_argument("multiple keys in " + accelerator);
    if (piece.empty()) return unsupported_key(piece);
    std::string_view name = piece;
    // Only this exact case is the portable "Key" prefix ("keyA" is no key).
    if (name.starts_with("Key")) {
      name.remove_prefix(3);
      if (name.empty()) return unsupported_key(piece);
    }
    const Token* key = find(KEY_TOKENS, ascii_upper(name));
    if (key == nullptr) return unsupported_key(piece);
    combo.key_code = static_cast<uint16_t>(key->value);
    have_key = true;
  }
  if (!have_key) return KmxError::invalid_argument("missing key in " + accelerator);
  return combo;
}

}  // namespace kmx::platform::macos
