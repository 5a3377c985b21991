// The guard around every callback that the operating system calls into:
// a fault inside must never travel into the system's caller.
#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace kmx::util {

// Writes "brindle-utils: panic in <name> caught at C ABI boundary: <msg>"
// to standard error.
void report_callback_panic(const char* name, const char* message) noexcept;

// Runs body; an exception is caught, reported and dropped. Returns whether
// the body completed.
template <class F>
bool log_callback_panic(const char* name, F&& body) noexcept {
  try {
    std::forward<F>(body)();
    return true;
  } catch (const std::exception& e) {
    report_callback_panic(name, e.what());
  } catch (const char* text) {
    report_callback_panic(name, text ? text : "<non-string panic payload>");
  } catch (const std::string& text) {
    report_callback_panic(name, text.c_str());
  } catch (...) {
    report_callback_panic(name, "<non-string panic payload>");
  }
  return false;
}

}  // namespace kmx::util
