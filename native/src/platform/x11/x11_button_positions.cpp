#include "platform/x11/x11_button_positions.h"

#include <errno.h>
#include <poll.h>
#include <xcb/record.h>
#include <xcb/xcbext.h>

#include <chrono>
#include <cstdlib>

namespace kmx::platform::x11 {

namespace {

// Categories of the replies to EnableContext.
constexpr uint8_t FROM_SERVER = 0;
constexpr uint8_t START_OF_DATA = 4;

// Every button event has its raw twin, which takes it; the bound only
// matters should the two streams ever disagree.
constexpr size_t MAX_RECORDED = 256;

// X times are 32-bit milliseconds that wrap.
bool later(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; }

}  // namespace

ButtonPositions::ButtonPositions() {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const xcb_query_extension_reply_t* extension =
      xcb_connection_has_error(c) ? nullptr : xcb_get_extension_data(c, &xcb_record_id);
  if (!extension || !extension->present) {
    xcb_disconnect(c);
    return;
  }
  const xcb_record_context_t context = xcb_generate_id(c);
  xcb_record_range_t range{};
  range.device_events.first = XCB_BUTTON_PRESS;
  range.device_events.last = XCB_BUTTON_RELEASE;
  const xcb_record_client_spec_t clients = XCB_RECORD_CS_ALL_CLIENTS;
  xcb_generic_error_t* error =
      xcb_request_check(c, xcb_record_create_context_checked(c, context, 0, 1, 1, &clients, &range));
  if (error) {
    // A server may refuse recording (access control, a disabled extension).
    std::free(error);
    xcb_disconnect(c);
    return;
  }
  const xcb_record_enable_context_cookie_t cookie = xcb_record_enable_context(c, context);
  // The first reply says recording has begun; the raw selection is made
  // after it, so every raw button event has its recording.
  auto* first = xcb_record_enable_context_reply(c, cookie, &error);
  const bool started = first && first->category == START_OF_DATA;
  std::free(first);
  std::free(error);
  if (!started) {
    xcb_disconnect(c);
    return;
  }
  connection_ = c;
  sequence_ = cookie.sequence;
}

ButtonPositions::~ButtonPositions() { stop(); }

void ButtonPositions::stop() {
  if (connection_) xcb_disconnect(connection_);
  connection_ = nullptr;
  recorded_.clear();
}

void ButtonPositions::read() {
  if (!connection_) return;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  while (xcb_poll_for_reply(connection_, sequence_, &reply, &error)) {
    if (!reply) {
      // The context ended (or the request failed): no more recordings.
      std::free(error);
      stop();
      return;
    }
    const auto* data = static_cast<const xcb_record_enable_context_reply_t*>(reply);
    // Recordings in another byte order than ours are left to the fallback.
    if (data->category == FROM_SERVER && !data->client_swapped) {
      const uint8_t* bytes = xcb_record_enable_context_data(data);
      const int length = xcb_record_enable_context_data_length(data);
      for (int at = 0; at + 32 <= length; at += 32) {
        const auto* event = reinterpret_cast<const xcb_button_press_event_t*>(bytes + at);
        const uint8_t type = event->response_type & 0x7F;
        if (type != XCB_BUTTON_PRESS && type != XCB_BUTTON_RELEASE) continue;
        if (recorded_.size() == MAX_RECORDED) recorded_.pop_front();
        recorded_.push_back({event->time, event->detail, type == XCB_BUTTON_PRESS, {event->root_x, event->root_y}});
      }
    }
    std::free(reply);
  }
  // Events every client gets (MappingNotify) would pile up unread.
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) std::free(event);
  if (xcb_connection_has_error(connection_)) stop();
}

std::optional<RootPosition> ButtonPositions::take(Time time, unsigned button, bool down, int wait_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  const auto when = static_cast<uint32_t>(time);
  for (;;) {
    read();
    for (auto it = recorded_.begin(); it != recorded_.end(); ++it) {
      if (it->time != when || it->button != button || it->down != down) continue;
      const RootPosition position = it->position;
      // Both streams are in server order: what came before is spent.
      recorded_.erase(recorded_.begin(), it + 1);
      return position;
    }
    if (!connection_ || (!recorded_.empty() && later(recorded_.back().time, when))) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) return std::nullopt;
  }
}

}  // namespace kmx::platform::x11
