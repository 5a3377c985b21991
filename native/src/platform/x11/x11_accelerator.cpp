#include "platform/x11/x11_accelerator.h"

#include <algorithm>
#include <array>
#include <optional>

#include "model/keys.h"

namespace kmx::platform::x11 {

namespace {

std::string quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), upper);
  return out;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

// Length of the Unicode White_Space code point encoded at s[0], or 0.
size_t space_at(std::string_view s) {
  if (s.empty()) return 0;
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  if (b(0) == ' ' || (b(0) >= 0x09 && b(0) <= 0x0D)) return 1;
  if (s.size() >= 2 && b(0) == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;
  if (s.size() < 3) return 0;
  if (b(0) == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;  // U+1680
  if (b(0) == 0xE2 && b(1) == 0x80 && (b(2) <= 0x8A || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF)) return 3;
  if (b(0) == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;  // U+205F
  if (b(0) == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;  // U+3000
  return 0;
}

// Length of the White_Space code point that ends s, or 0.
size_t space_before_end(std::string_view s) {
  for (size_t len = 1; len <= 3 && len <= s.size(); ++len) {
    if (space_at(s.substr(s.size() - len)) == len) return len;
  }
  return 0;
}

std::string_view trim(std::string_view s) {
  while (size_t n = space_at(s)) s.remove_prefix(n);
  while (size_t n = space_before_end(s)) s.remove_suffix(n);
  return s;
}

struct Alias {
  std::string_view token;  // upper case
  std::string_view name;   // portable key name
};

// Short forms and single characters beyond the portable names.
constexpr std::array<Alias, 31> ALIASES{{
    {"UP", "ArrowUp"},      {"DOWN", "ArrowDown"},  {"LEFT", "ArrowLeft"},   {"RIGHT", "ArrowRight"},
    {"ESC", "Escape"},      {"RETURN", "Enter"},    {"NUM0", "Numpad0"},     {"NUM1", "Numpad1"},
    {"NUM2", "Numpad2"},    {"NUM3", "Numpad3"},    {"NUM4", "Numpad4"},     {"NUM5", "Numpad5"},
    {"NUM6", "Numpad6"},    {"NUM7", "Numpad7"},    {"NUM8", "Numpad8"},     {"NUM9", "Numpad9"},
    {"-", "Minus"},         {"=", "Equal"},         {"[", "BracketLeft"},    {"]", "BracketRight"},
    {"\\", "Backslash"},    {";", "Semicolon"},     {"'", "Quote"},          {"`", "Backquote"},
    {",", "Comma"},         {".", "Period"},        {"/", "Slash"},          {"SPACEBAR", "Space"},
    {"DEL", "Delete"},      {"INS", "Insert"},      {"BACK", "Backspace"},
}};

const model::KeyRow* row_named(std::string_view name) {
  for (const model::KeyRow& row : model::PORTABLE_KEYS) {
    if (equals_ignoring_case(row.name, name)) return &row;
  }
  return nullptr;
}

enum class Word { None, Shift, Control, Alt, Super };

Word modifier_word(std::string_view piece) {
  const std::string u = upper_ascii(piece);
  if (u == "SHIFT") return Word::Shift;
  if (u == "CTRL" || u == "CONTROL" || u == "CMDORCTRL" || u == "CMDORCONTROL" || u == "COMMANDORCTRL" ||
      u == "COMMANDORCONTROL")
    return Word::Control;
  if (u == "ALT" || u == "OPTION") return Word::Alt;
  if (u == "SUPER" || u == "CMD" || u == "COMMAND" || u == "META") return Word::Super;
  return Word::None;
}

unsigned modifier_bit(Word w) {
  switch (w) {
    case Word::Shift: return MOD_SHIFT;
    case Word::Control: return MOD_CONTROL;
    case Word::Alt: return MOD_ALT;
    case Word::Super: return MOD_SUPER;
    case Word::None: break;
  }
  return 0;
}

KmxError parse_error(std::string_view text, const std::string& reason) {
  return KmxError::invalid_argument(std::string(text) + ": " + reason);
}

Result<Accelerator> key_only(std::string_view text, std::string_view piece, unsigned modifiers) {
  const uint32_t usage = key_token_usage(piece);
  if (usage == 0) return parse_error(text, "unrecognised key " + quoted(piece));
  const model::KeyRow* row = model::key_by_usage(usage);
  return Accelerator{modifiers, usage, row->x11_keysym.value_or(0)};
}

}  // namespace

uint32_t key_token_usage(std::string_view token) {
  if (token.size() == 1) {
    const char c = upper(token[0]);
    if (c >= 'A' && c <= 'Z') return 0x04 + static_cast<uint32_t>(c - 'A');
    if (c >= '1' && c <= '9') return 0x1E + static_cast<uint32_t>(c - '1');
    if (c == '0') return 0x27;
  }
  const model::KeyRow* row = row_named(token);
  if (!row) {
    const std::string u = upper_ascii(token);
    for (const Alias& a : ALIASES) {
      if (a.token == u) {
        row = row_named(a.name);
        break;
      }
    }
  }
  return row ? row->usage : 0;
}

Result<Accelerator> parse_accelerator(std::string_view text) {
  if (text.find('+') == std::string_view::npos) return key_only(text, text, 0);

  unsigned modifiers = 0;
  std::optional<Accelerator> key;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    const std::string_view piece = trim(text.substr(start, plus == std::string_view::npos ? plus : plus - start));
    if (piece.empty()) return parse_error(text, "empty key name between \"+\" separators");
    if (key) return parse_error(text, quoted(piece) + " follows the key; the key comes last");
    if (const Word w = modifier_word(piece); w != Word::None) {
      modifiers |= modifier_bit(w);
    } else {
      auto parsed = key_only(text, piece, 0);
      if (!parsed) return std::move(parsed).error();
      key = parsed.value();
    }
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  if (!key) return parse_error(text, "no key, only modifiers");
  key->modifiers = modifiers;
  return *key;
}

std::string canonical_text(const Accelerator& accelerator) {
  std::string out;
  if (accelerator.modifiers & MOD_ALT) out += "Alt+";
  if (accelerator.modifiers & MOD_CONTROL) out += "Control+";
  if (accelerator.modifiers & MOD_SHIFT) out += "Shift+";
  if (accelerator.modifiers & MOD_SUPER) out += "Super+";
  const model::KeyRow* row = model::key_by_usage(accelerator.usage);
  out += row ? std::string(row->name) : error::hex(accelerator.usage);
  return out;
}

std::string normalize_accelerator(std::string_view text) {
  auto parsed = parse_accelerator(text);
  if (parsed) return canonical_text(parsed.value());
  // Lower case keeps it apart from every canonical text, which starts with a capital.
  std::string out = "invalid:";
  for (char c : text) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

}  // namespace kmx::platform::x11
