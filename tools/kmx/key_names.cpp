#include "key_names.h"

#include <algorithm>

namespace kmx_tool {

namespace {

std::string quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

struct Alias {
  std::string_view alias;
  uint32_t usage;
};

// KeyboardEvent.code spells the modifiers ControlLeft, which is what kmx
// prints, as the packages do; the library's table says LeftControl, which
// stays accepted.
constexpr std::string_view MODIFIER_CODE_NAMES[] = {"ControlLeft",  "ShiftLeft",  "AltLeft",  "MetaLeft",
                                                    "ControlRight", "ShiftRight", "AltRight", "MetaRight"};

constexpr Alias ALIASES[] = {
    {"LeftControl", 0xE0}, {"LeftShift", 0xE1}, {"LeftAlt", 0xE2},   {"LeftMeta", 0xE3}, {"RightControl", 0xE4},
    {"RightShift", 0xE5},  {"RightAlt", 0xE6},  {"RightMeta", 0xE7}, {"Esc", 0x29},      {"Return", 0x28},
    {"Up", 0x52},          {"Down", 0x51},      {"Left", 0x50},      {"Right", 0x4F},
};

constexpr Alias MODIFIER_WORDS[] = {
    {"Ctrl", 0xE0},  {"Control", 0xE0}, {"Shift", 0xE1}, {"Alt", 0xE2},     {"Option", 0xE2},
    {"Super", 0xE3}, {"Meta", 0xE3},    {"Cmd", 0xE3},   {"Command", 0xE3}, {"Win", 0xE3},
};

}  // namespace

const std::vector<KeyName>& all_keys() {
  static const std::vector<KeyName> keys = {
#define KMX_KEY(usage, name, win, mac, x11, evdev) {usage, name, x11, evdev},
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev) {usage, MODIFIER_CODE_NAMES[usage - 0xE0], x11, evdev},
#include "model/keys.inc"
#undef KMX_KEY
#undef KMX_MODIFIER
  };
  return keys;
}

std::optional<uint32_t> usage_for_name(std::string_view name) {
  for (const KeyName& k : all_keys())
    if (same_ignoring_case(k.name, name)) return k.usage;
  for (const Alias& a : ALIASES)
    if (same_ignoring_case(a.alias, name)) return a.usage;
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= 'a' && c <= 'z') return 0x04 + static_cast<uint32_t>(c - 'a');
    if (c >= 'A' && c <= 'Z') return 0x04 + static_cast<uint32_t>(c - 'A');
    if (c >= '1' && c <= '9') return 0x1E + static_cast<uint32_t>(c - '1');
    if (c == '0') return 0x27;
  }
  return std::nullopt;
}

std::optional<std::string_view> name_for_usage(uint32_t usage) {
  for (const KeyName& k : all_keys())
    if (k.usage == usage) return k.name;
  return std::nullopt;
}

bool parse_chord(std::string_view text, Chord& out, std::string& error) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t plus = text.find('+', start);
    pieces.push_back(trim(text.substr(start, plus == std::string_view::npos ? plus : plus - start)));
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  out = Chord{};
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string_view piece = pieces[i];
    if (piece.empty()) {
      error = "empty name in chord \"" + std::string(text) + "\"";
      return false;
    }
    const bool last = i + 1 == pieces.size();
    std::optional<uint32_t> usage;
    if (!last) {
      for (const Alias& w : MODIFIER_WORDS)
        if (same_ignoring_case(w.alias, piece)) usage = w.usage;
    }
    if (!usage) usage = usage_for_name(piece);
    if (!usage) {
      error = "unknown key name " + quoted(piece);
      return false;
    }
    if (last) {
      out.key = *usage;
    } else if (*usage < 0xE0 || *usage > 0xE7) {
      error = quoted(piece) + " is not a modifier; only the last name may be a plain key";
      return false;
    } else {
      out.modifiers.push_back(*usage);
    }
  }
  return true;
}

}  // namespace kmx_tool
