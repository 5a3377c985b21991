// Single-line diagnostics that do not fail an operation ("[keymux] ..." on
// the host's standard error). Every such line goes through emit_diagnostic,
// so tests and fuzzers can redirect them.
#pragma once

#include <string_view>

namespace kmx::hotkeys {

using DiagnosticSink = void (*)(std::string_view line);

// Writes the line and a newline; the line carries its own prefix.
void emit_diagnostic(std::string_view line);

// Replaces where lines go (nullptr restores standard error); returns the
// previous sink.
DiagnosticSink set_diagnostic_sink(DiagnosticSink sink) noexcept;

}  // namespace kmx::hotkeys
