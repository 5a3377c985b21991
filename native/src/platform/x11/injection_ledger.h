// What this library just injected, so that raw input can tell its own
// keys from other XTEST clients' keys. X11 events carry no user data, so
// an injected transition is matched by (keycode, direction), in order.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kmx::platform::x11 {

class InjectionLedger {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t CAPACITY = 64;
  static constexpr std::chrono::milliseconds MAX_AGE{2000};

  // Before each injected transition; the oldest entries fall out past CAPACITY.
  void record(uint32_t keycode, bool down, Clock::time_point now = Clock::now());
  // Takes back the newest entry when its transition was never sent.
  void cancel_last(uint32_t keycode, bool down);
  // True when an unexpired entry equals (keycode, down): it and every older
  // entry are consumed (those were never observed).
  bool match(uint32_t keycode, bool down, Clock::time_point now = Clock::now());
  size_t size() const;

 private:
  struct Entry {
    uint32_t keycode;
    bool down;
    Clock::time_point at;
  };
  void expire(Clock::time_point now);

  mutable std::mutex mu_;
  std::deque<Entry> entries_;
};

}  // namespace kmx::platform::x11
