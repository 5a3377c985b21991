#include "spell_app.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "spell_scan.h"
#include "utf16_text.h"

namespace spell_helper {

namespace {

using nlohmann::json;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::optional<std::string> read_file(const std::string& path) {
  if (path.empty()) return std::nullopt;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, n);
  if (std::ferror(file.get())) return std::nullopt;
  return bytes;
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::FILE* raw = std::fopen(path.c_str(), "wb");
  if (raw == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), raw) == bytes.size();
  return std::fclose(raw) == 0 && written;
}

int emit(const Options& options, const json& document) {
  std::string bytes;
  try {
    bytes = document.dump();
  } catch (const json::exception&) {
    return EXIT_NOT_WRITTEN;
  }
  if (options.output.empty()) return EXIT_NOT_WRITTEN;
  return write_file(options.output, bytes) ? EXIT_WRITTEN : EXIT_NOT_WRITTEN;
}

json refusal() { return json{{"ok", false}}; }

int check(const Options& options, SpellChecker& checker, const std::vector<std::string>& languages) {
  const std::optional<std::string> language =
      options.language.empty() ? std::nullopt : checker.resolve_language(options.language, languages);
  if (!language) return emit(options, refusal());
  const std::optional<std::string> bytes = read_file(options.input);
  const std::optional<std::u16string> text = bytes ? utf8_to_utf16(*bytes) : std::nullopt;
  if (!text) return emit(options, refusal());

  const std::optional<std::vector<Finding>> findings = scan(*text, *language, checker);
  if (!findings) return emit(options, refusal());
  json list = json::array();
  for (const Finding& f : *findings) {
    list.push_back(
        json{{"start", f.start}, {"length", f.length}, {"original", f.original}, {"suggestions", f.suggestions}});
  }
  return emit(options, json{{"ok", true}, {"findings", std::move(list)}});
}

}  // namespace

std::optional<std::string> SpellChecker::resolve_language(const std::string& requested,
                                                          const std::vector<std::string>& available) {
  if (std::find(available.begin(), available.end(), requested) == available.end()) return std::nullopt;
  return requested;
}

int run(const Options& options, SpellChecker& checker) {
  const std::vector<std::string> languages = checker.available_languages();
  if (options.command == "languages") return emit(options, json{{"ok", true}, {"languages", languages}});
  if (options.command == "check") return check(options, checker, languages);
  return emit(options, refusal());
}

int run_program(std::span<const std::string> args, SpellChecker& checker) { return run(parse_options(args), checker); }

}  // namespace spell_helper
