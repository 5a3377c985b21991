// Recognition without a language against the right single language and
// against every installed language at once (the former behaviour), on pages
// of English, German and Russian text. Each run is a child process, so that
// its peak memory is its own. Prints "name: value unit" lines.
//   usage: ocr_language_bench [repetitions, default 3]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "leptonica_image.h"
#include "tesseract_engine.h"

namespace {

using ocr_helper::DecodedImage;
using ocr_helper::RecognitionSettings;
using ocr_helper::linux_engine::TesseractEngine;

struct Sample {
  std::string name;
  std::string language;
  std::string locale;  // the user's, which decides the first language tried
  std::vector<std::string> lines;
};

struct Cost {
  double seconds = 0;
  double cpu_seconds = 0;
  long peak_kib = 0;
  bool ok = false;
};

// One recognition in a child process.
Cost measure(const std::string& image_path, const RecognitionSettings& settings, const std::string& locale) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", locale.c_str(), 1);
    TesseractEngine engine;
    const std::optional<DecodedImage> image = engine.decode(image_path);
    const bool ok = image && engine.recognize(*image, settings).results.has_value();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  Cost cost;
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    cost.peak_kib = usage.ru_maxrss;
    cost.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return cost;
}

Cost best_of(int repetitions, const std::string& image_path, const RecognitionSettings& settings,
             const std::string& locale) {
  Cost best{1e9, 1e9, 0, true};
  for (int i = 0; i < repetitions; ++i) {
    const Cost c = measure(image_path, settings, locale);
    best.ok = best.ok && c.ok;
    best.seconds = std::min(best.seconds, c.seconds);
    best.cpu_seconds = std::min(best.cpu_seconds, c.cpu_seconds);
    best.peak_kib = std::max(best.peak_kib, c.peak_kib);
  }
  return best;
}

void print(const std::string& name, const Cost& cost) {
  std::printf("%s: %.3f s wall, %.3f s cpu, %.1f MiB peak%s\n", name.c_str(), cost.seconds, cost.cpu_seconds,
              static_cast<double>(cost.peak_kib) / 1024.0, cost.ok ? "" : " (FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  ::setenv("OMP_THREAD_LIMIT", "1", 1);  // Tesseract's threads only add noise on a shared machine
  const std::vector<Sample> samples{
      {"english",
       "eng",
       "en_US.UTF-8",
       {"The quick brown fox jumps over the lazy dog.", "Reading order follows the lines of the page,",
        "from the top down and from left to right.", "Every outcome is reported as one JSON document."}},
      {"german",
       "deu",
       "de_DE.UTF-8",
       {"Zwölf Boxkämpfer jagen Viktor quer über den Sylter Deich.", "Die Straße führt an der großen Brücke vorbei,",
        "und die Mädchen grüßen die fröhlichen Gäste."}},
      {"russian",
       "rus",
       "C.UTF-8",
       {"Съешь же ещё этих мягких французских булок,", "да выпей же чаю и вернись домой."}},
  };

  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("ocr_language_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);

  TesseractEngine engine;
  const ocr_helper::LanguageQuery installed = engine.supported_languages();
  if (!installed.ok) {
    std::fprintf(stderr, "no Tesseract languages installed\n");
    return 1;
  }
  std::string all;
  for (const std::string& language : installed.languages) all += (all.empty() ? "" : "+") + language;
  std::printf("installed languages: %zu (%s)\n", installed.languages.size(), all.c_str());
  std::printf("repetitions: %d (best time, highest peak)\n", repetitions);

  int status = 0;
  for (const Sample& sample : samples) {
    const std::string image = (dir / (sample.name + ".png")).string();
    // A half page: the lines three times over, as paragraphs of a letter.
    std::vector<std::string> lines;
    for (int copy = 0; copy < 3; ++copy) lines.insert(lines.end(), sample.lines.begin(), sample.lines.end());
    std::string command = "convert -size 1400x" + std::to_string(100 + 60 * lines.size()) +
                          " xc:white -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf -pointsize 28 -fill black";
    for (std::size_t i = 0; i < lines.size(); ++i) {
      command += " -annotate +40+" + std::to_string(60 + 60 * i) + " '" + lines[i] + "'";
    }
    command += " " + image;
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "could not render %s\n", image.c_str());
      return 1;
    }
    const Cost single = best_of(repetitions, image, RecognitionSettings{{sample.language}, false}, sample.locale);
    const Cost detected = best_of(repetitions, image, RecognitionSettings{{}, true}, sample.locale);
    const Cost every = best_of(1, image, RecognitionSettings{{all}, false}, sample.locale);
    std::printf("%s, user locale %s\n", sample.name.c_str(), sample.locale.c_str());
    print(sample.name + " single language (" + sample.language + ")", single);
    print(sample.name + " no language (script detection)", detected);
    print(sample.name + " every installed language at once", every);
    std::printf("%s no-language / single-language: %.2f wall, %.2f cpu (target at most 1.5)\n", sample.name.c_str(),
                detected.seconds / single.seconds, detected.cpu_seconds / single.cpu_seconds);
    std::printf("%s every-language / single-language: %.2f wall, %.2f cpu, %.2f memory\n", sample.name.c_str(),
                every.seconds / single.seconds, every.cpu_seconds / single.cpu_seconds,
                static_cast<double>(every.peak_kib) / static_cast<double>(single.peak_kib));
    if (!single.ok || !detected.ok) status = 1;
  }
  fs::remove_all(dir);
  return status;
}
