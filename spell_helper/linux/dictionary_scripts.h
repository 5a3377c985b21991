#pragma once

#include <string>
#include <vector>

#include "dictionary_encoding.h"

namespace spell_helper::linux_engine {

// The writing systems (ICU UScriptCode values) of a dictionary's words, from
// a sample of its .dic file: those of at least one word in a hundred. Empty
// when the file cannot be read.
std::vector<int> dictionary_scripts(const std::string& dic_path, DictionaryCodec& codec);

}  // namespace spell_helper::linux_engine
