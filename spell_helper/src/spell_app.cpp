#include "spell_app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "spell_scan.h"
#include "utf16_text.h"

namespace spell_helper {

namespace {

using nlohmann::json;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Only regular files up to MAX_INPUT_BYTES are read. Non-blocking, so that a
// FIFO is refused rather than waited on; the limit keeps an endless stream
// (/dev/zero) from exhausting memory.
std::optional<std::string> read_file(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > MAX_INPUT_BYTES) {
    return std::nullopt;
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > MAX_INPUT_BYTES) return std::nullopt;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

// UTF-16 or UTF-32 without a byte order mark is valid UTF-8 to a decoder,
// one letter and one NUL at a time; no text holds NUL.
bool is_text(const std::string& bytes) { return bytes.find('\0') == std::string::npos; }

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

// {"findings":[...],"ok":true}, as the serialiser orders the keys, written
// to the file one finding at a time: a document tree (or string) of a
// hundred thousand findings would take more memory than the text.
int emit_findings(const Options& options, std::u16string_view text, const ScanResult& result) {
  if (options.output.empty()) return EXIT_NOT_WRITTEN;
  std::FILE* file = std::fopen(options.output.c_str(), "wb");
  if (file == nullptr) return EXIT_NOT_WRITTEN;
  bool written = std::fputs(R"({"findings":[)", file) >= 0;
  const std::vector<std::string> none;
  try {
    for (std::size_t i = 0; written && i < result.words.size(); ++i) {
      const ScanResult::Word& w = result.words[i];
      const std::string finding = json{{"start", w.location},
                                       {"length", w.length},
                                       {"original", utf16_to_utf8(text.substr(w.location, w.length))},
                                       {"suggestions", w.suggestions ? *w.suggestions : none}}
                                      .dump();
      written = (i == 0 || std::fputc(',', file) != EOF) &&
                std::fwrite(finding.data(), 1, finding.size(), file) == finding.size();
    }
  } catch (const json::exception&) {
    written = false;
  }
  written = written && std::fputs(R"(],"ok":true})", file) >= 0;
  return std::fclose(file) == 0 && written ? EXIT_WRITTEN : EXIT_NOT_WRITTEN;
}

json refusal() { return json{{"ok", false}}; }

int check(const Options& options, SpellChecker& checker, const std::vector<std::string>& languages) {
  const std::optional<std::string> language =
      options.language.empty() ? std::nullopt : checker.resolve_language(options.language, languages);
  if (!language) return emit(options, refusal());
  std::optional<std::u16string> text;
  {
    // The UTF-8 bytes go as soon as the text is converted.
    const std::optional<std::string> bytes = read_file(options.input);
    if (bytes && is_text(*bytes)) text = utf8_to_utf16(*bytes);
  }
  if (!text) return emit(options, refusal());

  const std::optional<ScanResult> result = scan_words(*text, *language, checker, suggestion_budget(text->size()));
  if (!result) return emit(options, refusal());
  return emit_findings(options, *text, *result);
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
