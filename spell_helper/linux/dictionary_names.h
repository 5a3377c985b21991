#pragma once

#include <optional>
#include <string>
#include <vector>

namespace spell_helper::linux_engine {

// The dictionary that a requested language stands for: its exact name
// (en_US), else the best match for a BCP 47 tag (en-US, en, pt-BR; case and
// the separator do not matter): the same language and region, then the
// language alone (a dictionary named just "de"), then the language in its
// most likely region (en: en_US, pt: pt_BR), then the first dictionary of
// the language in name order. Dictionaries with a variant (de_DE_frami,
// ca_ES-valencia) are chosen only when no plain one fits.
std::optional<std::string> resolve_dictionary(const std::string& requested, const std::vector<std::string>& available);

}  // namespace spell_helper::linux_engine
