#include "dictionary_names.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cctype>

namespace spell_helper::linux_engine {

namespace {

struct LanguageName {
  std::string language;  // lower case
  std::string script;    // title case, may be empty
  std::string region;    // upper case, may be empty
  bool variant = false;  // anything after the region
};

bool all_of(const std::string& s, int (*pred)(int)) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](unsigned char c) { return pred(c) != 0; });
}

std::optional<LanguageName> parse(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == '-' || c == '_') {
      parts.push_back(part);
      part.clear();
    } else {
      part += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  parts.push_back(part);
  if (std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p.empty(); })) return std::nullopt;
  LanguageName name;
  if (parts[0].size() < 2 || parts[0].size() > 3 || !all_of(parts[0], std::isalpha)) return std::nullopt;
  name.language = parts[0];
  std::size_t i = 1;
  if (i < parts.size() && parts[i].size() == 4 && all_of(parts[i], std::isalpha)) {
    name.script = parts[i++];
    name.script[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name.script[0])));
  }
  if (i < parts.size() && ((parts[i].size() == 2 && all_of(parts[i], std::isalpha)) ||
                           (parts[i].size() == 3 && all_of(parts[i], std::isdigit)))) {
    name.region = parts[i++];
    for (char& c : name.region) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  name.variant = i < parts.size();
  return name;
}

// ICU's likely region for a language, such as US for en and BR for pt.
std::string likely_region(const std::string& language) {
  char maximised[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_addLikelySubtags(language.c_str(), maximised, sizeof maximised, &status);
  if (U_FAILURE(status)) return {};
  char region[ULOC_COUNTRY_CAPACITY] = {};
  uloc_getCountry(maximised, region, sizeof region, &status);
  return U_FAILURE(status) ? std::string() : std::string(region);
}

}  // namespace

std::optional<std::string> resolve_dictionary(const std::string& requested, const std::vector<std::string>& available) {
  if (std::find(available.begin(), available.end(), requested) != available.end()) return requested;
  const std::optional<LanguageName> wanted = parse(requested);
  if (!wanted) return std::nullopt;

  // Lower rank is better; candidates of another language do not count.
  std::optional<std::string> best;
  int best_rank = 0;
  std::string likely;
  for (const std::string& candidate_name : available) {
    const std::optional<LanguageName> candidate = parse(candidate_name);
    if (!candidate || candidate->language != wanted->language) continue;
    if (!wanted->script.empty() && !candidate->script.empty() && candidate->script != wanted->script) continue;
    int rank;
    if (!wanted->region.empty() && candidate->region == wanted->region) {
      rank = 0;
    } else if (candidate->region.empty()) {
      rank = 2;
    } else {
      if (likely.empty()) likely = likely_region(wanted->language);
      rank = candidate->region == likely ? 4 : 6;
    }
    if (candidate->variant) ++rank;
    // Names are sorted, so the first of equal rank wins.
    if (!best || rank < best_rank) {
      best = candidate_name;
      best_rank = rank;
    }
  }
  return best;
}

}  // namespace spell_helper::linux_engine
