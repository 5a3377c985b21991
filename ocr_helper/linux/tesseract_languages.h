#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ocr_helper::linux_engine {

// The installed Tesseract language that a requested identifier stands for:
// the identifier itself when installed (eng, chi_sim), else the language of a
// BCP 47 tag (en, en-US, de-DE, pt-BR, zh-Hant, sr-Latn; case and separator
// do not matter). Tesseract's data has no regions, so a tag's region only
// selects the script where it decides one (zh-TW: chi_tra).
std::optional<std::string> resolve_tesseract_language(const std::string& requested,
                                                      const std::vector<std::string>& installed);

// The Tesseract language of a locale name such as de_DE.UTF-8; nullopt for
// the C locale and unknown languages.
std::optional<std::string> locale_language(const std::string& locale);

// Up to `limit` installed languages written in a script as Tesseract's
// orientation and script detection names it ("Latin", "Cyrillic", "Han"),
// the preferred language first when it is among them, then the others in
// order of how widely they are read. Empty when none is installed.
std::vector<std::string> languages_for_script(const std::string& script, const std::vector<std::string>& installed,
                                              const std::optional<std::string>& preferred, std::size_t limit);

}  // namespace ocr_helper::linux_engine
