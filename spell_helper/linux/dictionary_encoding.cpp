#include "dictionary_encoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <array>
#include <cctype>
#include <fstream>
#include <utility>

#include "utf16_text.h"

namespace spell_helper::linux_engine {

namespace {

// Hunspell compares encoding names with case and punctuation removed.
std::string folded(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c)) out += static_cast<char>(std::tolower(c));
  }
  return out;
}

// Hunspell's own encoding names, folded, with the converter for each.
constexpr std::array<std::pair<std::string_view, std::string_view>, 23> ENCODINGS{{
    {"utf8", "UTF-8"},
    {"iso88591", "ISO-8859-1"},
    {"iso88592", "ISO-8859-2"},
    {"iso88593", "ISO-8859-3"},
    {"iso88594", "ISO-8859-4"},
    {"iso88595", "ISO-8859-5"},
    {"iso88596", "ISO-8859-6"},
    {"iso88597", "ISO-8859-7"},
    {"iso88598", "ISO-8859-8"},
    {"iso88599", "ISO-8859-9"},
    {"iso885910", "ISO-8859-10"},
    {"tis620", "TIS-620"},
    {"tis6202533", "TIS-620"},
    {"iso885911", "TIS-620"},
    {"iso885913", "ISO-8859-13"},
    {"iso885914", "ISO-8859-14"},
    {"iso885915", "ISO-8859-15"},
    {"koi8r", "KOI8-R"},
    {"koi8u", "KOI8-U"},
    {"cp1251", "windows-1251"},
    {"microsoftcp1251", "windows-1251"},
    {"xisciias", "ISCII,version=1"},  // Assamese, written in the Bengali script
    {"isciidevanagari", "ISCII,version=0"},
}};

}  // namespace

std::optional<std::string> converter_name(std::string_view set_name) {
  const std::string key = folded(set_name);
  for (const auto& [name, converter] : ENCODINGS) {
    if (name == key) return std::string(converter);
  }
  return std::nullopt;
}

std::optional<std::string> declared_encoding(const std::string& aff_path) {
  std::ifstream aff(aff_path, std::ios::binary);
  if (!aff) return std::nullopt;
  std::string line;
  bool first = true;
  while (std::getline(aff, line)) {
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    first = false;
    if (line.rfind("SET", 0) != 0 || line.size() < 4 || !std::isspace(static_cast<unsigned char>(line[3]))) continue;
    const std::size_t start = line.find_first_not_of(" \t", 3);
    const std::size_t end = line.find_first_of(" \t\r", start);
    if (start == std::string::npos) return std::string();
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  if (aff.bad()) return std::nullopt;
  return std::string("ISO8859-1");
}

DictionaryCodec::DictionaryCodec(const std::string& converter) {
  if (converter == "UTF-8") {
    utf8_ = true;
    return;
  }
  UErrorCode status = U_ZERO_ERROR;
  converter_ = ucnv_open(converter.c_str(), &status);
  if (U_FAILURE(status)) {
    if (converter_ != nullptr) ucnv_close(converter_);
    converter_ = nullptr;
    return;
  }
  // Unmappable text is an error, not a silent substitution character.
  ucnv_setFromUCallBack(converter_, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setToUCallBack(converter_, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) {
    ucnv_close(converter_);
    converter_ = nullptr;
  }
}

DictionaryCodec::~DictionaryCodec() {
  if (converter_ != nullptr) ucnv_close(converter_);
}

std::optional<std::string> DictionaryCodec::encode(std::u16string_view text) {
  if (utf8_) return utf16_to_utf8(text);
  if (converter_ == nullptr) return std::nullopt;
  ucnv_reset(converter_);
  std::string out(text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter_)) + 8, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t n =
      ucnv_fromUChars(converter_, out.data(), static_cast<std::int32_t>(out.size()),
                      reinterpret_cast<const UChar*>(text.data()), static_cast<std::int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::optional<std::u16string> DictionaryCodec::decode(std::string_view bytes) {
  if (utf8_) return utf8_to_utf16(bytes);
  if (converter_ == nullptr) return std::nullopt;
  ucnv_reset(converter_);
  std::u16string out(bytes.size() * 2 + 8, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const std::int32_t n =
      ucnv_toUChars(converter_, reinterpret_cast<UChar*>(out.data()), static_cast<std::int32_t>(out.size()),
                    bytes.data(), static_cast<std::int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(n));
  return out;
}

}  // namespace spell_helper::linux_engine
