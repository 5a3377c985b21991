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

json refusal() { return json{{"ok", false}}; }

int check(const Options& options, SpellChecker& checker, const std::vector<std::string>& languages) {
  const std::optional<std::string> language =
      options.language.empty() ? std::nullopt : checker.resolve_language(options.language, languages);
  if (!language) return emit(options, refusal());
  const std::optional<std::string> bytes = read_file(options.input);
  const std::optional<std::u16string> text = bytes && is_text(*bytes) ? utf8_to_utf16(*bytes) : std::nullopt;
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
