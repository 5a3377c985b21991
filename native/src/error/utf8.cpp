#include "error/utf8.h"

#include <cstring>

namespace kmx::error {

bool is_valid_utf8(std::string_view bytes) noexcept {
  size_t i = 0;
  const size_t n = bytes.size();
  auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < n) {
    const unsigned char lead = at(i);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // Well-formed sequences (Unicode table 3-7): the second byte's range
    // depends on the lead, which rules out overlongs, surrogates and code
    // points above U+10FFFF.
    size_t length;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (at(i + 1) < lo || at(i + 1) > hi) return false;
    for (size_t k = 2; k < length; ++k) {
      if (at(i + k) < 0x80 || at(i + k) > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

Result<std::string> owned_text(const char* text, std::string_view field) {
  if (text == nullptr) return KmxError::invalid_argument(std::string(field) + " is null");
  std::string_view bytes(text, std::strlen(text));
  if (!is_valid_utf8(bytes)) return KmxError::invalid_argument(std::string(field) + " is not UTF-8");
  return std::string(bytes);
}

}  // namespace kmx::error
