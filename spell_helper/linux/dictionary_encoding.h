#pragma once

#include <optional>
#include <string>
#include <string_view>

struct UConverter;

namespace spell_helper::linux_engine {

// The converter name for an encoding as a dictionary's SET line names it,
// for every name Hunspell accepts (its aliases such as microsoft-cp1251,
// TIS620-2533 or ISCII-DEVANAGARI included); nullopt for names Hunspell does
// not know.
std::optional<std::string> converter_name(std::string_view set_name);

// The encoding that an .aff file declares with SET; ISO8859-1, Hunspell's
// default, when it has none. nullopt when the file cannot be read.
std::optional<std::string> declared_encoding(const std::string& aff_path);

// Converts words to a dictionary's encoding and its answers back to UTF-8.
class DictionaryCodec {
 public:
  explicit DictionaryCodec(const std::string& converter);
  ~DictionaryCodec();
  DictionaryCodec(const DictionaryCodec&) = delete;
  DictionaryCodec& operator=(const DictionaryCodec&) = delete;

  bool usable() const { return utf8_ || converter_ != nullptr; }
  // nullopt when the encoding cannot express the text.
  std::optional<std::string> encode(std::u16string_view text);
  // nullopt when the bytes are not valid in the encoding.
  std::optional<std::u16string> decode(std::string_view bytes);

 private:
  bool utf8_ = false;
  UConverter* converter_ = nullptr;
};

}  // namespace spell_helper::linux_engine
