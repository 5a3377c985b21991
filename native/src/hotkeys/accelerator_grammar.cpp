#include "hotkeys/accelerator_grammar.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "model/keys.h"
#include "model/unicode_trim.h"

namespace kmx::hotkeys {

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), upper);
  return out;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

// Appended piece by piece: gcc 12 at -O2 warns falsely (-Wrestrict) on
// the "\"" + std::string(s) + "\"" form.
std::string quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

struct Alias {
  std::string_view token;  // upper case
  std::string_view name;   // portable key name
};

// Short forms and punctuation beyond the portable names; single letters and
// digits are handled by rule.
// clang-format off
constexpr std::array<Alias, 41> ALIASES{{
    {"-", "Minus"},          {"=", "Equal"},          {"[", "BracketLeft"},     {"]", "BracketRight"},
    {"\\", "Backslash"},     {";", "Semicolon"},      {"'", "Quote"},           {"`", "Backquote"},
    {",", "Comma"},          {".", "Period"},         {"/", "Slash"},           {"UP", "ArrowUp"},
    {"DOWN", "ArrowDown"},   {"LEFT", "ArrowLeft"},   {"RIGHT", "ArrowRight"},  {"ESC", "Escape"},
    {"RETURN", "Enter"},     {"DEL", "Delete"},       {"INS", "Insert"},        {"PGUP", "PageUp"},
    {"PGDN", "PageDown"},    {"CAPS", "CapsLock"},    {"NUM0", "Numpad0"},      {"NUM1", "Numpad1"},
    {"NUM2", "Numpad2"},     {"NUM3", "Numpad3"},     {"NUM4", "Numpad4"},      {"NUM5", "Numpad5"},
    {"NUM6", "Numpad6"},     {"NUM7", "Numpad7"},     {"NUM8", "Numpad8"},      {"NUM9", "Numpad9"},
    {"NUMADD", "NumpadAdd"}, {"NUMSUBTRACT", "NumpadSubtract"}, {"NUMMULTIPLY", "NumpadMultiply"},
    {"NUMDIVIDE", "NumpadDivide"}, {"NUMDECIMAL", "NumpadDecimal"}, {"NUMENTER", "NumpadEnter"},
    {"PRINTSCR", "PrintScreen"}, {"BACK", "Backspace"}, {"SPACEBAR", "Space"},
}};
// clang-format on

const model::KeyRow* row_named(std::string_view name) {
  for (const model::KeyRow& row : model::PORTABLE_KEYS) {
    if (equals_ignoring_case(row.name, name)) return &row;
  }
  return nullptr;
}

KmxError parse_error(std::string reason) { return KmxError::invalid_argument(std::move(reason)); }

}  // namespace

uint32_t modifier_word_bit(std::string_view word) {
  const std::string u = upper_ascii(word);
  if (u == "ALT" || u == "OPTION") return ACCEL_ALT;
  if (u == "CTRL" || u == "CONTROL" || u == "CMDORCTRL" || u == "CMDORCONTROL" || u == "COMMANDORCTRL" ||
      u == "COMMANDORCONTROL")
    return ACCEL_CONTROL;
  if (u == "SHIFT") return ACCEL_SHIFT;
  if (u == "SUPER" || u == "CMD" || u == "COMMAND" || u == "META") return ACCEL_SUPER;
  return 0;
}

uint32_t key_name_usage(std::string_view name) {
  if (name.size() == 1) {
    const char c = upper(name[0]);
    if (c >= 'A' && c <= 'Z') return 0x04 + static_cast<uint32_t>(c - 'A');
    if (c >= '1' && c <= '9') return 0x1E + static_cast<uint32_t>(c - '1');
    if (c == '0') return 0x27;
  }
  const model::KeyRow* row = row_named(name);
  if (!row) {
    const std::string u = upper_ascii(name);
    const auto* alias = std::find_if(ALIASES.begin(), ALIASES.end(), [&](const Alias& a) { return a.token == u; });
    if (alias != ALIASES.end()) row = row_named(alias->name);
  }
  return row ? row->usage : 0;
}

Result<ParsedAccelerator> parse_accelerator_text(std::string_view text) {
  if (text.find('+') == std::string_view::npos) {
    const uint32_t usage = key_name_usage(text);
    if (usage == 0) return parse_error("unrecognised key " + quoted(text));
    return ParsedAccelerator{0, usage};
  }

  ParsedAccelerator out;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    const std::string_view piece =
        model::trim_white_space(text.substr(start, plus == std::string_view::npos ? plus : plus - start));
    if (piece.empty()) return parse_error("empty token between \"+\" separators");
    if (out.usage != 0) return parse_error("invalid format: " + quoted(piece) + " follows the key; the key comes last");
    if (const uint32_t bit = modifier_word_bit(piece)) {
      out.modifiers |= bit;
    } else {
      out.usage = key_name_usage(piece);
      if (out.usage == 0) return parse_error("unrecognised key " + quoted(piece));
    }
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  if (out.usage == 0) return parse_error("invalid format: no key, only modifiers");
  return out;
}

}  // namespace kmx::hotkeys
