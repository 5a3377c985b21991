#include "hotkeys/diagnostics.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace kmx::hotkeys {

namespace {

void write_stderr(std::string_view line) {
  // One write per line keeps lines from concurrent writers whole.
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line).push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::atomic<DiagnosticSink> current_sink{nullptr};

}  // namespace

void emit_diagnostic(std::string_view line) {
  DiagnosticSink sink = current_sink.load(std::memory_order_acquire);
  (sink ? sink : write_stderr)(line);
}

DiagnosticSink set_diagnostic_sink(DiagnosticSink sink) noexcept {
  return current_sink.exchange(sink, std::memory_order_acq_rel);
}

}  // namespace kmx::hotkeys
