// spell_helper beside `hunspell -l` (list misspellings) and `hunspell -a`
// (misspellings with suggestions) on the same texts in one run, each a child
// process so that its processor time and peak memory are its own; then the
// cost and agreement of Hunspell's and Nuspell's suggestions for the same
// words. Texts, unless given: 46 KB of German rendered from Debian's German
// man pages and 5 MiB of English from Debian package changelogs (hunspell -a
// reads the first 256 KiB of texts over 1 MiB).
// Prints "name: value unit" lines.
//   usage: spell_checker_bench [DICTIONARY FILE]...
#include <hunspell/hunspell.hxx>
#include <nuspell/dictionary.hxx>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Cost {
  double seconds = 0;
  double cpu_seconds = 0;
  double peak_mib = 0;
  bool ok = false;
};

// Runs argv with standard input from `in` and standard output to `out`.
Cost run(const std::vector<std::string>& argv, const std::string& in, const std::string& out) {
  std::fflush(stdout);  // or the child would print our buffered lines again
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!std::freopen(in.c_str(), "rb", stdin) || !std::freopen(out.c_str(), "wb", stdout)) ::_exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  Cost cost;
  int status = 0;
  rusage usage{};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  return cost;
}

void print(const std::string& name, const Cost& cost, const Cost& reference) {
  std::printf("%s: %.2f s, %.2f s cpu, %.1f MiB peak, %.2fx the cpu of hunspell -l%s\n", name.c_str(), cost.seconds,
              cost.cpu_seconds, cost.peak_mib, cost.cpu_seconds / std::max(reference.cpu_seconds, 1e-3),
              cost.ok ? "" : " (FAILED)");
}

std::string read(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
}

double cpu_now() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Suggestions for the same words from both libraries: time per word and how
// often the first suggestions agree.
void compare_suggesters(const std::string& dictionary, const std::vector<std::string>& words) {
  const std::string base = "/usr/share/hunspell/" + dictionary;
  Hunspell hunspell((base + ".aff").c_str(), (base + ".dic").c_str());
  nuspell::Dictionary nuspell;
  try {
    nuspell.load_aff_dic(base + ".aff");
  } catch (const std::exception& e) {
    std::printf("%s nuspell: could not load (%s)\n", dictionary.c_str(), e.what());
    return;
  }
  double hunspell_cpu = 0, nuspell_cpu = 0;
  std::size_t same_first = 0, hunspell_some = 0, nuspell_some = 0;
  for (const std::string& word : words) {
    double t = cpu_now();
    const std::vector<std::string> h = hunspell.suggest(word);
    hunspell_cpu += cpu_now() - t;
    std::vector<std::string> n;
    t = cpu_now();
    nuspell.suggest(word, n);
    nuspell_cpu += cpu_now() - t;
    hunspell_some += !h.empty();
    nuspell_some += !n.empty();
    same_first += !h.empty() && !n.empty() && h.front() == n.front();
  }
  const double count = static_cast<double>(std::max<std::size_t>(words.size(), 1));
  std::printf("%s suggest, %zu distinct misspelled words: hunspell %.1f ms/word (%zu with suggestions), "
              "nuspell %.1f ms/word (%zu with suggestions), same first suggestion %zu\n",
              dictionary.c_str(), words.size(), 1000 * hunspell_cpu / count, hunspell_some, 1000 * nuspell_cpu / count,
              nuspell_some, same_first);
}

void measure(const std::string& dictionary, const std::string& text, const fs::path& dir) {
  const std::string sink = (dir / "out").string();
  const std::string result = (dir / "result.json").string();
  std::printf("== %s, %s (%ju bytes)\n", dictionary.c_str(), text.c_str(), static_cast<std::uintmax_t>(fs::file_size(text)));
  const Cost list = run({"hunspell", "-l", "-d", dictionary, text}, "/dev/null", sink);
  const std::size_t listed = static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(std::ifstream(sink).rdbuf()), {}, '\n'));
  print("hunspell -l", list, list);
  std::printf("hunspell -l: %zu misspelled words\n", listed);
  // hunspell -a guesses every occurrence of every misspelled word: on a large
  // text it runs for a quarter of an hour, so it reads only the beginning.
  constexpr std::uintmax_t SUGGESTED_BYTES = 256 * 1024;
  std::string suggested = text;
  if (fs::file_size(text) > 4 * SUGGESTED_BYTES) {
    suggested = (dir / "beginning.txt").string();
    fs::copy_file(text, suggested, fs::copy_options::overwrite_existing);
    fs::resize_file(suggested, SUGGESTED_BYTES);
    std::printf("hunspell -a reads the first %ju KiB only\n", SUGGESTED_BYTES / 1024);
  }
  print("hunspell -a", run({"hunspell", "-a", "-d", dictionary}, suggested, sink), list);
  const Cost ours = run({SPELL_HELPER_PATH, "--command", "check", "--input", text, "--output", result, "--language",
                         dictionary},
                        "/dev/null", sink);
  print("spell_helper", ours, list);
  const nlohmann::json doc = nlohmann::json::parse(read(result), nullptr, false);
  if (doc.is_discarded() || !doc.contains("findings")) {
    std::printf("spell_helper: no findings document\n");
    return;
  }
  std::size_t with_suggestions = 0;
  std::vector<std::string> distinct;
  std::set<std::string> seen;
  for (const auto& f : doc["findings"]) {
    with_suggestions += !f["suggestions"].empty();
    const std::string word = f["original"];
    if (seen.insert(word).second) distinct.push_back(word);
  }
  std::printf("spell_helper: %zu findings, %zu distinct, %zu with suggestions\n", doc["findings"].size(),
              distinct.size(), with_suggestions);
  constexpr std::size_t COMPARED = 60;
  if (distinct.size() > COMPARED) distinct.resize(COMPARED);
  compare_suggesters(dictionary, distinct);
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = fs::temp_directory_path() / ("spell_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::vector<std::pair<std::string, std::string>> texts;
  for (int i = 1; i + 1 < argc; i += 2) texts.emplace_back(argv[i], argv[i + 1]);
  if (texts.empty()) {
    const std::string de = (dir / "de.txt").string();
    const std::string en = (dir / "en.txt").string();
    shell("for f in /usr/share/man/de/man1/*.gz /usr/share/man/de/man8/*.gz; do MANWIDTH=80 man -l -Tutf8 \"$f\" "
          "2>/dev/null | col -b >> " + de + "; [ $(stat -c %s " + de + ") -gt 47104 ] && break; done; truncate -s 47104 " +
          de);
    shell("for f in /usr/share/doc/*/changelog.Debian.gz; do zcat \"$f\" >> " + en + "; [ $(stat -c %s " + en +
          ") -gt 5242880 ] && break; done; truncate -s 5242880 " + en);
    texts = {{"de_DE", de}, {"en_US", en}};
  }
  for (const auto& [dictionary, text] : texts) measure(dictionary, text, dir);
  fs::remove_all(dir);
  return 0;
}
