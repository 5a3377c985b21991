// Helpers of the Windows suites: a runtime per test, input injected the way
// another program would (no marker), event collection and standard-error
// capture.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <keymux/keymux.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kmx::wintest {

inline std::string last_error(KmxHandle h) {
  char buf[1024];
  kmx_last_error(h, buf, sizeof buf);
  return buf;
}

inline std::string last_init_error() {
  char buf[1024];
  kmx_last_init_error(buf, sizeof buf);
  return buf;
}

inline std::string leftovers(KmxHandle h) {
  char buf[1024];
  kmx_apply_leftovers(h, buf, sizeof buf);
  return buf;
}

// One runtime for the length of a test.
class Runtime {
 public:
  explicit Runtime(uint32_t mask) {
    KmxCreateOptions options{KMX_ABI_VERSION, mask};
    status_ = kmx_create(&options, &h_);
  }
  ~Runtime() {
    if (h_ != nullptr) {
      kmx_stop(h_);
      kmx_destroy(h_);
    }
  }
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  KmxHandle get() const { return h_; }
  KmxStatus status() const { return status_; }

  // Takes every event that arrives until nothing comes for quiet_ms.
  std::vector<KmxEvent> drain(uint32_t quiet_ms = 300) {
    std::vector<KmxEvent> out;
    KmxEvent e;
    while (kmx_poll_event(h_, &e, quiet_ms) == KMX_OK) out.push_back(e);
    return out;
  }

  // The first event that satisfies pred within timeout_ms; earlier ones are dropped.
  std::optional<KmxEvent> wait_for(const std::function<bool(const KmxEvent&)>& pred, DWORD timeout_ms = 5000) {
    const ULONGLONG end = ::GetTickCount64() + timeout_ms;
    KmxEvent e;
    for (;;) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= end) return std::nullopt;
      if (kmx_poll_event(h_, &e, static_cast<uint32_t>(end - now)) == KMX_OK && pred(e)) return e;
    }
  }

  KmxStatus apply(std::vector<KmxShortcut> items) { return kmx_apply_hotkeys(h_, items.data(), items.size()); }

 private:
  KmxHandle h_ = nullptr;
  KmxStatus status_ = 0;
};

inline INPUT key_input(WORD vk, bool down, ULONG_PTR extra = 0) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  in.ki.dwExtraInfo = extra;
  return in;
}

inline void send(std::vector<INPUT> inputs) {
  ASSERT_EQ(::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)), inputs.size());
}

inline void press(WORD vk) { send({key_input(vk, true)}); }
inline void release(WORD vk) { send({key_input(vk, false)}); }

// Mouse input at an absolute screen position.
inline INPUT mouse_input(DWORD flags, int x, int y) {
  const int w = ::GetSystemMetrics(SM_CXSCREEN), h = ::GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = static_cast<LONG>((x * 65535LL + (w - 1) / 2) / (w - 1));
  in.mi.dy = static_cast<LONG>((y * 65535LL + (h - 1) / 2) / (h - 1));
  in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  return in;
}

// Redirects the process's standard error (the C runtime's stream the
// library writes to) into a file until text() is called.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    char dir[MAX_PATH], file[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, "kmx", 0, file);
    path_ = file;
    saved_ = _dup(2);
    const int fd = _open(path_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(fd, 2);
    _close(fd);
  }
  ~StderrCapture() { restore(); }

  std::string text() {
    restore();
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
    saved_ = -1;
  }

  std::string path_;
  int saved_ = -1;
};

inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string line; std::getline(ss, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

}  // namespace kmx::wintest
