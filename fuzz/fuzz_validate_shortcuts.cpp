// Host text as it crosses the C interface: the UTF-8 conversion, the
// white-space trim and shortcut validation, each checked against a plain
// reference written from the definitions.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "error/utf8.h"
#include "model/shortcut_validation.h"
#include "model/unicode_trim.h"

namespace {

[[noreturn]] void mismatch(const char* what) {
  std::fprintf(stderr, "fuzz_validate_shortcuts: %s\n", what);
  std::abort();
}

// Code points of well-formed UTF-8, none otherwise.
std::optional<std::u32string> decode(std::string_view bytes) {
  std::u32string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const size_t len = b0 < 0x80                 ? 1
                       : b0 >= 0xC0 && b0 < 0xE0 ? 2
                       : b0 >= 0xE0 && b0 < 0xF0 ? 3
                       : b0 >= 0xF0 && b0 < 0xF8 ? 4
                                                 : 0;
    if (len == 0 || i + len > bytes.size()) return std::nullopt;
    char32_t cp = len == 1 ? b0 : b0 & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < shortest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += len;
  }
  return out;
}

bool white(char32_t c) {
  static const std::set<char32_t> table = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                                           0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                           0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  return table.contains(c);
}

std::u32string trimmed(std::u32string s) {
  while (!s.empty() && white(s.front())) s.erase(s.begin());
  while (!s.empty() && white(s.back())) s.pop_back();
  for (char32_t& c : s) {
    if (c >= U'A' && c <= U'Z') c += 0x20;
  }
  return s;
}

// The rules of validate_shortcuts, on code points.
std::string reference_validation(const kmx::model::ShortcutList& list) {
  std::set<uint64_t> ids;
  std::set<std::u32string> keys;
  for (const auto& s : list) {
    if (!ids.insert(s.id).second) return "duplicate shortcut id " + std::to_string(s.id);
    const std::u32string key = trimmed(*decode(s.accelerator));
    if (key.empty()) return "shortcut " + std::to_string(s.id) + " has an empty accelerator";
    if (!keys.insert(key).second) return "duplicate accelerator " + s.accelerator;
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // The conversion reads up to the first NUL, as from a host's C string.
  const std::string c_string(bytes.c_str());
  const auto reference = decode(c_string);
  auto owned = kmx::error::owned_text(c_string.c_str(), "accelerator");
  if (owned.ok() != reference.has_value()) mismatch("UTF-8 verdict differs from the definition");
  if (owned.ok() && owned.value() != c_string) mismatch("owned text is not a copy");
  if (!owned.ok() && owned.error().message() != "accelerator is not UTF-8") mismatch("wrong conversion message");
  if (kmx::error::is_valid_utf8(bytes) != decode(bytes).has_value()) mismatch("UTF-8 verdict differs on raw bytes");

  // Trimming removes white space at the ends only, and all of it.
  const std::string_view trim = kmx::model::trim_white_space(bytes);
  if (bytes.find(trim) == std::string::npos) mismatch("trim is not a substring");
  if (kmx::model::trim_white_space(trim) != trim) mismatch("trim is not idempotent");
  if (auto cps = decode(bytes)) {
    auto expected = *cps;
    while (!expected.empty() && white(expected.front())) expected.erase(expected.begin());
    while (!expected.empty() && white(expected.back())) expected.pop_back();
    if (decode(trim) != expected) mismatch("trim differs from the definition");
  }

  // A shortcut list: records split at NUL, the first byte of each is the id.
  kmx::model::ShortcutList list;
  bool all_utf8 = true;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    const std::string record = bytes.substr(start, end - start);
    start = end + 1;
    if (record.empty()) continue;
    list.push_back({record.substr(1), "", static_cast<uint8_t>(record[0]) % 8u});
    all_utf8 = all_utf8 && decode(list.back().accelerator).has_value();
  }
  const kmx::Status status = kmx::model::validate_shortcuts(list);
  // Only well-formed text reaches validation through the C interface.
  if (all_utf8) {
    const std::string expected = reference_validation(list);
    const std::string actual = status.ok() ? "" : status.error().message();
    if (actual != expected) mismatch("validation differs from the reference");
    if (!status.ok() && status.error().kind() != kmx::KmxError::Kind::InvalidArgument) mismatch("wrong error kind");
  }
  return 0;
}
