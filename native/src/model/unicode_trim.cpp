#include "model/unicode_trim.h"

#include <cstdint>
#include <optional>

namespace kmx::model {

namespace {

struct Decoded {
  char32_t code_point;
  size_t length;
};

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Strict decode of the code point starting at `at`; none when the bytes
// there are not a well-formed sequence.
std::optional<Decoded> decode_at(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length;
  char32_t cp;
  char32_t min;
  if (lead < 0x80) return Decoded{lead, 1};
  if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - at < length) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if (!is_continuation(byte)) return std::nullopt;
    cp = (cp << 6) | (byte & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  return Decoded{cp, length};
}

}  // namespace

bool is_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_white_space(std::string_view text) noexcept {
  while (!text.empty()) {
    auto first = decode_at(text, 0);
    if (!first || !is_white_space(first->code_point)) break;
    text.remove_prefix(first->length);
  }
  while (!text.empty()) {
    // The last code point starts at the last byte that is not a
    // continuation byte, at most four bytes from the end.
    size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    auto last = decode_at(text, start);
    if (!last || start + last->length != text.size() || !is_white_space(last->code_point)) break;
    text.remove_suffix(last->length);
  }
  return text;
}

}  // namespace kmx::model
