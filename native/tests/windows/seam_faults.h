// Test-only control over the library's Win32 seam: each fault swaps one
// entry of the table for the length of a scope and records its calls.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/windows/diagnostics.h"
#include "platform/windows/win32_seam.h"

namespace kmx::wintest {

using platform::windows::win32;
using platform::windows::Win32Seam;

// SendInput that inserts only as many records as scripted, per call.
class PartialSendInput {
 public:
  explicit PartialSendInput(std::deque<UINT> inserted) {
    std::lock_guard lock(mu_);
    instance_ = this;
    inserted_ = std::move(inserted);
    saved_ = win32().send_input;
    win32().send_input = &fake;
  }
  ~PartialSendInput() {
    win32().send_input = saved_;
    std::lock_guard lock(mu_);
    instance_ = nullptr;
  }
  std::vector<std::vector<INPUT>> calls() {
    std::lock_guard lock(mu_);
    return calls_;
  }

 private:
  static UINT WINAPI fake(UINT count, LPINPUT inputs, int size) {
    std::lock_guard lock(mu_);
    if (size != sizeof(INPUT)) return 0;
    instance_->calls_.emplace_back(inputs, inputs + count);
    if (instance_->inserted_.empty()) return count;
    const UINT n = instance_->inserted_.front();
    instance_->inserted_.pop_front();
    return n;
  }

  static inline std::mutex mu_;
  static inline PartialSendInput* instance_ = nullptr;
  std::deque<UINT> inserted_;
  std::vector<std::vector<INPUT>> calls_;
  decltype(Win32Seam::send_input) saved_;
};

// Counts UnregisterHotKey calls; refuses them while failing is set.
class UnregisterFault {
 public:
  UnregisterFault() {
    calls_ = 0;
    failing_ = false;
    saved_ = win32().unregister_hot_key;
    win32().unregister_hot_key = &fake;
  }
  ~UnregisterFault() { win32().unregister_hot_key = saved_; }
  void fail(bool on) { failing_ = on; }
  int calls() const { return calls_; }

 private:
  static BOOL WINAPI fake(HWND window, int id) {
    ++calls_;
    if (failing_) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    return ::UnregisterHotKey(window, id);
  }

  static inline std::atomic<int> calls_{0};
  static inline std::atomic<bool> failing_{false};
  decltype(Win32Seam::unregister_hot_key) saved_;
};

// Refuses the hooks of the given kinds; records every installation asked
// for, the handles handed out and the handles removed.
class HookFault {
 public:
  explicit HookFault(std::vector<int> refused) {
    std::lock_guard lock(mu_);
    refused_ = std::move(refused);
    requested_.clear();
    installed_.clear();
    removed_.clear();
    saved_ = win32().set_windows_hook_ex;
    saved_unhook_ = win32().unhook_windows_hook_ex;
    win32().set_windows_hook_ex = &fake;
    win32().unhook_windows_hook_ex = &fake_unhook;
  }
  ~HookFault() {
    win32().set_windows_hook_ex = saved_;
    win32().unhook_windows_hook_ex = saved_unhook_;
  }
  std::vector<HHOOK> installed() {
    std::lock_guard lock(mu_);
    return installed_;
  }
  std::vector<HHOOK> removed() {
    std::lock_guard lock(mu_);
    return removed_;
  }
  void refuse(std::vector<int> kinds) {
    std::lock_guard lock(mu_);
    refused_ = std::move(kinds);
  }
  std::vector<int> requested() {
    std::lock_guard lock(mu_);
    return requested_;
  }

 private:
  static HHOOK WINAPI fake(int kind, HOOKPROC proc, HINSTANCE module, DWORD thread) {
    {
      std::lock_guard lock(mu_);
      requested_.push_back(kind);
      for (int k : refused_) {
        if (k == kind) return nullptr;
      }
    }
    HHOOK hook = ::SetWindowsHookExW(kind, proc, module, thread);
    std::lock_guard lock(mu_);
    installed_.push_back(hook);
    return hook;
  }
  static BOOL WINAPI fake_unhook(HHOOK hook) {
    {
      std::lock_guard lock(mu_);
      removed_.push_back(hook);
    }
    return ::UnhookWindowsHookEx(hook);
  }

  static inline std::mutex mu_;
  static inline std::vector<int> refused_;
  static inline std::vector<int> requested_;
  static inline std::vector<HHOOK> installed_;
  static inline std::vector<HHOOK> removed_;
  decltype(Win32Seam::set_windows_hook_ex) saved_;
  decltype(Win32Seam::unhook_windows_hook_ex) saved_unhook_;
};

// Integrity levels as scripted: this process's own, and every other
// process's (0: unreadable).
class IntegrityLevels {
 public:
  IntegrityLevels(DWORD own, DWORD others) : saved_(win32().process_integrity) {
    own_ = own;
    others_ = others;
    win32().process_integrity = &fake;
  }
  ~IntegrityLevels() { win32().process_integrity = saved_; }

 private:
  static DWORD fake(HANDLE process) noexcept { return process == ::GetCurrentProcess() ? own_ : others_; }
  static inline std::atomic<DWORD> own_{0}, others_{0};
  decltype(Win32Seam::process_integrity) saved_;
};

// A standard error that blocks every write until unblock(), as a console
// with a text selection or a pipe nobody reads does; records what got through.
class BlockedStderr {
 public:
  BlockedStderr() : saved_(win32().write_error_text) {
    gate_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
      std::lock_guard lock(mu_);
      written_.clear();
    }
    blocked_ = 0;
    win32().write_error_text = &fake;
  }
  ~BlockedStderr() {
    unblock();
    platform::windows::flush_diagnostics(5000);
    win32().write_error_text = saved_;
    ::CloseHandle(gate_);
  }
  void unblock() { ::SetEvent(gate_); }
  // Writers waiting on the gate right now.
  int blocked() const { return blocked_; }
  std::string written() {
    std::lock_guard lock(mu_);
    return written_;
  }

 private:
  static void fake(const char* text, size_t size) noexcept {
    ++blocked_;
    ::WaitForSingleObject(gate_, INFINITE);
    --blocked_;
    std::lock_guard lock(mu_);
    written_.append(text, size);
  }
  static inline HANDLE gate_ = nullptr;
  static inline std::atomic<int> blocked_{0};
  static inline std::mutex mu_;
  static inline std::string written_;
  decltype(Win32Seam::write_error_text) saved_;
};

// CreateEventW that always fails.
class CreateEventFault {
 public:
  CreateEventFault() : saved_(win32().create_event) { win32().create_event = &fake; }
  ~CreateEventFault() { win32().create_event = saved_; }

 private:
  static HANDLE WINAPI fake(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) { return nullptr; }
  decltype(Win32Seam::create_event) saved_;
};

}  // namespace kmx::wintest
