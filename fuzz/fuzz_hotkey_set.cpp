// HotkeySet::apply over fuzzer-chosen lists and injected platform faults,
// compared after every apply with the reference model of the tests.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hotkey_check.h"
#include "hotkeys/diagnostics.h"

namespace {

// Texts that collide by case, by spaces around "+", and that do not.
constexpr const char* ACCELERATORS[] = {"Ctrl+A", "ctrl+a",  "Ctrl + A", "Ctrl+B",        " Alt+B",
                                        "Alt+C",  "Shift+D", "F21",      "Ctrl+\xc3\x89", "Ctrl+\xc3\xa9"};
constexpr size_t ACCELERATOR_COUNT = sizeof ACCELERATORS / sizeof ACCELERATORS[0];

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool empty() const { return at >= size; }
  uint8_t next() { return at < size ? data[at++] : 0; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kmx::test;
  kmx::hotkeys::set_diagnostic_sink(capture_line);

  FaultRegistrar registrar;
  TestSet set;
  HotkeyModel model;
  Bytes in{data, size};
  // Each apply: a header byte (list length, fault count), the entries, then
  // the faults; at most 16 applies per input.
  for (int apply = 0; apply < 16 && !in.empty(); ++apply) {
    const uint8_t header = in.next();
    kmx::model::ShortcutList list;
    for (int i = 0; i < (header & 0x07) % 6; ++i) {
      const uint8_t entry = in.next();
      list.push_back({ACCELERATORS[(entry >> 3) % ACCELERATOR_COUNT], "", entry & 0x07u});
    }
    FaultPlan plan;
    for (int i = 0; i < (header >> 3) % 4; ++i) {
      const uint8_t fault = in.next();
      plan[(fault >> 1) % 16] = (fault & 1) ? Fault::Hard : Fault::Soft;
    }
    const std::string diff = apply_and_compare(set, registrar, model, list, plan);
    if (!diff.empty()) {
      std::fprintf(stderr, "fuzz_hotkey_set: apply %d (%s) disagrees with the model:\n%s", apply,
                   describe(plan).c_str(), diff.c_str());
      std::abort();
    }
  }
  set.clear(registrar);
  if (!set.active().empty() || !registrar.misuse().empty()) {
    std::fprintf(stderr, "fuzz_hotkey_set: clear left registrations tracked or misused a handle\n");
    std::abort();
  }
  return 0;
}
