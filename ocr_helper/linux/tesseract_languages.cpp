#include "tesseract_languages.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace ocr_helper::linux_engine {

namespace {

struct Language {
  std::string_view tag;        // BCP 47 language subtag, with the script where Tesseract splits by script
  std::string_view tesseract;  // Tesseract's data name
  std::string_view script;     // as orientation and script detection reports it
};

// Within each script, rows run from the most to the least widely read.
constexpr std::array<Language, 84> LANGUAGES{{
    {"en", "eng", "Latin"},           {"es", "spa", "Latin"},
    {"fr", "fra", "Latin"},           {"de", "deu", "Latin"},
    {"pt", "por", "Latin"},           {"it", "ita", "Latin"},
    {"id", "ind", "Latin"},           {"tr", "tur", "Latin"},
    {"vi", "vie", "Latin"},           {"pl", "pol", "Latin"},
    {"nl", "nld", "Latin"},           {"ro", "ron", "Latin"},
    {"ms", "msa", "Latin"},           {"sw", "swa", "Latin"},
    {"cs", "ces", "Latin"},           {"hu", "hun", "Latin"},
    {"sv", "swe", "Latin"},           {"az", "aze", "Latin"},
    {"uz", "uzb", "Latin"},           {"tl", "tgl", "Latin"},
    {"fil", "fil", "Latin"},          {"da", "dan", "Latin"},
    {"fi", "fin", "Latin"},           {"no", "nor", "Latin"},
    {"nb", "nor", "Latin"},           {"sk", "slk", "Latin"},
    {"hr", "hrv", "Latin"},           {"bs", "bos", "Latin"},
    {"sr-Latn", "srp_latn", "Latin"}, {"lt", "lit", "Latin"},
    {"sl", "slv", "Latin"},           {"lv", "lav", "Latin"},
    {"et", "est", "Latin"},           {"sq", "sqi", "Latin"},
    {"ca", "cat", "Latin"},           {"gl", "glg", "Latin"},
    {"eu", "eus", "Latin"},           {"af", "afr", "Latin"},
    {"is", "isl", "Latin"},           {"ga", "gle", "Latin"},
    {"cy", "cym", "Latin"},           {"mt", "mlt", "Latin"},
    {"la", "lat", "Latin"},           {"eo", "epo", "Latin"},
    {"jv", "jav", "Latin"},           {"ht", "hat", "Latin"},
    {"yo", "yor", "Latin"},           {"ru", "rus", "Cyrillic"},
    {"uk", "ukr", "Cyrillic"},        {"sr", "srp", "Cyrillic"},
    {"bg", "bul", "Cyrillic"},        {"be", "bel", "Cyrillic"},
    {"kk", "kaz", "Cyrillic"},        {"mk", "mkd", "Cyrillic"},
    {"ky", "kir", "Cyrillic"},        {"tg", "tgk", "Cyrillic"},
    {"mn", "mon", "Cyrillic"},        {"uz-Cyrl", "uzb_cyrl", "Cyrillic"},
    {"ar", "ara", "Arabic"},          {"fa", "fas", "Arabic"},
    {"ur", "urd", "Arabic"},          {"ps", "pus", "Arabic"},
    {"ug", "uig", "Arabic"},          {"hi", "hin", "Devanagari"},
    {"mr", "mar", "Devanagari"},      {"ne", "nep", "Devanagari"},
    {"sa", "san", "Devanagari"},      {"bn", "ben", "Bengali"},
    {"as", "asm", "Bengali"},         {"zh-Hans", "chi_sim", "Han"},
    {"zh-Hant", "chi_tra", "Han"},    {"ja", "jpn", "Japanese"},
    {"ko", "kor", "Hangul"},          {"th", "tha", "Thai"},
    {"el", "ell", "Greek"},           {"he", "heb", "Hebrew"},
    {"yi", "yid", "Hebrew"},          {"ta", "tam", "Tamil"},
    {"te", "tel", "Telugu"},          {"kn", "kan", "Kannada"},
    {"ml", "mal", "Malayalam"},       {"gu", "guj", "Gujarati"},
    {"pa", "pan", "Gurmukhi"},        {"ka", "kat", "Georgian"},
}};

// Scripts that detection reports under a name of their own but that share
// languages with another row of the table.
std::string_view script_family(std::string_view script) {
  if (script == "Hiragana" || script == "Katakana") return "Japanese";
  if (script == "Korean") return "Hangul";
  return script;
}

bool installed_has(const std::vector<std::string>& installed, std::string_view name) {
  return std::find(installed.begin(), installed.end(), name) != installed.end();
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> subtags(const std::string& tag) {
  std::vector<std::string> parts(1);
  for (char c : tag) {
    if (c == '-' || c == '_')
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return parts;
}

// The table's tag for a parsed BCP 47 tag: the language, with the script
// where the table splits one language by script.
std::string table_tag(const std::vector<std::string>& parts) {
  const std::string& language = parts[0];
  std::string script;
  std::string region;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i].size() == 4 && script.empty() && region.empty())
      script = parts[i];
    else if (parts[i].size() == 2 && region.empty())
      region = parts[i];
  }
  if (language == "zh") {
    if (script == "hant" || (script.empty() && (region == "tw" || region == "hk" || region == "mo"))) return "zh-Hant";
    return "zh-Hans";
  }
  if ((language == "sr" || language == "uz") && !script.empty()) {
    return language + (script == "latn" ? "-Latn" : script == "cyrl" ? "-Cyrl" : "-" + script);
  }
  return language;
}

}  // namespace

std::optional<std::string> resolve_tesseract_language(const std::string& requested,
                                                      const std::vector<std::string>& installed) {
  if (installed_has(installed, requested)) return requested;
  const std::vector<std::string> parts = subtags(requested);
  if (parts[0].size() < 2 || parts[0].size() > 3 ||
      std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); })) {
    return std::nullopt;
  }
  const std::string tag = table_tag(parts);
  for (const Language& row : LANGUAGES) {
    if (lower(std::string(row.tag)) == lower(tag) && installed_has(installed, row.tesseract)) {
      return std::string(row.tesseract);
    }
  }
  return std::nullopt;
}

std::optional<std::string> locale_language(const std::string& locale) {
  const std::string name = locale.substr(0, locale.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return std::nullopt;
  const std::string tag = table_tag(subtags(name));
  for (const Language& row : LANGUAGES) {
    if (lower(std::string(row.tag)) == lower(tag)) return std::string(row.tesseract);
  }
  return std::nullopt;
}

std::vector<std::string> languages_for_script(const std::string& script, const std::vector<std::string>& installed,
                                              const std::optional<std::string>& preferred, std::size_t limit) {
  const std::string_view family = script_family(script);
  std::vector<std::string> chosen;
  auto add = [&](std::string_view name) {
    if (chosen.size() < limit && installed_has(installed, name) && !installed_has(chosen, name)) {
      chosen.emplace_back(name);
    }
  };
  const bool han = family == "Han";
  for (const Language& row : LANGUAGES) {
    const bool of_script = row.script == family || (han && row.tesseract == "jpn");
    if (preferred && row.tesseract == *preferred && of_script) add(row.tesseract);
  }
  for (const Language& row : LANGUAGES) {
    if (row.script == family || (han && row.tesseract == "jpn")) add(row.tesseract);
  }
  return chosen;
}

}  // namespace ocr_helper::linux_engine
