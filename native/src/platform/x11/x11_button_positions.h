// Where each pointer button event happened. XInput 2 raw events carry no
// position, and the pointer has often moved on by the time the worker reads
// them. The RECORD extension records the server's core button events, in
// server order and whatever window receives them, with the root position
// and the physical button; a raw button event takes its position from the
// recorded event with the same time, button and direction.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

struct RootPosition {
  int x = 0;
  int y = 0;
};

class ButtonPositions {
 public:
  // Starts recording on a connection of its own (plain XCB: it is only read,
  // by the worker). Without RECORD, or when the server refuses the context,
  // nothing is recorded and take() gives nothing.
  ButtonPositions();
  ~ButtonPositions();
  ButtonPositions(const ButtonPositions&) = delete;
  ButtonPositions& operator=(const ButtonPositions&) = delete;

  bool recording() const noexcept { return connection_ != nullptr; }

  // The position of the button event the raw stream reports (its server
  // time, physical button and direction). When its recording has not come
  // in yet, waits for it at most `wait_ms`, and not at all once a later
  // recording shows it will not come. Recordings before it are dropped.
  std::optional<RootPosition> take(Time time, unsigned button, bool down, int wait_ms);

 private:
  struct Recorded {
    uint32_t time;
    uint8_t button;
    bool down;
    RootPosition position;
  };

  // Takes in the recordings that have arrived, without waiting.
  void read();
  void stop();

  xcb_connection_t* connection_ = nullptr;
  unsigned sequence_ = 0;  // of the EnableContext request whose replies carry the recordings
  std::deque<Recorded> recorded_;
};

}  // namespace kmx::platform::x11
