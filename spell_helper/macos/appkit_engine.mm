#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include "spell_engine.h"

namespace spell_helper::macos_engine {

namespace {

std::string to_std(NSString* text) {
  const char* utf8 = text.UTF8String;
  return utf8 != nullptr ? std::string(utf8) : std::string();
}

NSString* to_ns(const std::string& text) {
  NSString* converted = [[NSString alloc] initWithBytes:text.data() length:text.size() encoding:NSUTF8StringEncoding];
  return converted != nil ? converted : @"";
}

// The shared NSSpellChecker; the text is converted once and kept while the
// scan asks about the same text again and again.
class AppKitChecker final : public SpellChecker {
 public:
  std::vector<std::string> available_languages() override {
    std::vector<std::string> languages;
    @autoreleasepool {
      for (NSString* language in [[NSSpellChecker sharedSpellChecker] availableLanguages]) {
        languages.push_back(to_std(language));
      }
    }
    return languages;
  }

  std::optional<TextRange> next_misspelling(std::u16string_view text, std::size_t offset,
                                            const std::string& language) override {
    @autoreleasepool {
      NSRange found = [[NSSpellChecker sharedSpellChecker] checkSpellingOfString:string_for(text)
                                                                      startingAt:static_cast<NSInteger>(offset)
                                                                        language:to_ns(language)
                                                                            wrap:NO
                                                          inSpellDocumentWithTag:0
                                                                       wordCount:nullptr];
      if (found.location == NSNotFound) return std::nullopt;
      return TextRange{found.location, found.length};
    }
  }

  std::optional<std::vector<std::string>> guesses(std::u16string_view text, TextRange range,
                                                  const std::string& language) override {
    @autoreleasepool {
      NSArray<NSString*>* found =
          [[NSSpellChecker sharedSpellChecker] guessesForWordRange:NSMakeRange(range.location, range.length)
                                                          inString:string_for(text)
                                                          language:to_ns(language)
                                            inSpellDocumentWithTag:0];
      if (found == nil) return std::nullopt;
      std::vector<std::string> list;
      for (NSString* guess in found) list.push_back(to_std(guess));
      return list;
    }
  }

 private:
  NSString* string_for(std::u16string_view text) {
    if (cached_ == nil || cached_data_ != text.data() || cached_size_ != text.size()) {
      static_assert(sizeof(unichar) == sizeof(char16_t));
      cached_ = [[NSString alloc] initWithCharacters:reinterpret_cast<const unichar*>(text.data()) length:text.size()];
      cached_data_ = text.data();
      cached_size_ = text.size();
    }
    return cached_;
  }

  NSString* cached_ = nil;
  const char16_t* cached_data_ = nullptr;
  std::size_t cached_size_ = 0;
};

}  // namespace

}  // namespace spell_helper::macos_engine

namespace spell_helper {
std::unique_ptr<SpellChecker> make_platform_checker() { return std::make_unique<macos_engine::AppKitChecker>(); }
}  // namespace spell_helper
