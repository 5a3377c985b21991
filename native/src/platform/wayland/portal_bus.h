// A thin layer over sd-bus for the desktop portals: owned handles, the
// Request/Response round trip every portal method uses, and the vardicts
// that go with it. Each thread that talks to the portal owns a connection.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "error/result.h"

namespace kmx::platform::portal {

inline constexpr const char* DESKTOP_NAME = "org.freedesktop.portal.Desktop";
inline constexpr const char* DESKTOP_PATH = "/org/freedesktop/portal/desktop";
inline constexpr const char* SHORTCUTS_INTERFACE = "org.freedesktop.portal.GlobalShortcuts";
inline constexpr const char* REMOTE_DESKTOP_INTERFACE = "org.freedesktop.portal.RemoteDesktop";
inline constexpr const char* SESSION_INTERFACE = "org.freedesktop.portal.Session";

struct BusUnref {
  void operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* m) const noexcept { sd_bus_message_unref(m); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* s) const noexcept { sd_bus_slot_unref(s); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// The session bus of DBUS_SESSION_BUS_ADDRESS (or the user's default one).
Result<Bus> open_session_bus();

// The version property of a portal interface; 0 when the portal or the
// interface is missing.
uint32_t interface_version(sd_bus* bus, const char* interface);

// CLOCK_MONOTONIC in microseconds, the clock of sd_bus_get_timeout.
uint64_t monotonic_us();

// A fresh token for handle_token / session_handle_token ("keymux_N").
std::string new_token();

// Where the portal puts a Request or Session object made with token.
std::string request_path(sd_bus* bus, const std::string& token);
std::string session_path(sd_bus* bus, const std::string& token);

// One shortcut as the GlobalShortcuts portal takes it: (id, {description,
// preferred_trigger}).
struct ShortcutSpec {
  std::string id;
  std::string description;
  std::string trigger;
};
using ShortcutSpecs = std::vector<ShortcutSpec>;

using OptionValue = std::variant<std::string, uint32_t, bool, ShortcutSpecs>;
using Options = std::vector<std::pair<std::string, OptionValue>>;

// Appends an a{sv} dictionary.
int append_options(sd_bus_message* m, const Options& options);

// Appends an a(sa{sv}) shortcut list.
int append_shortcuts(sd_bus_message* m, const ShortcutSpecs& shortcuts);

// What a Request's Response carried. Only the result keys keymux reads are
// kept; the others are skipped.
struct Response {
  uint32_t code = 2;  // 0 success, 1 cancelled by the user, 2 ended otherwise
  std::string session_handle;
  std::string restore_token;
  uint32_t devices = 0;
  // The ids of a "shortcuts" result, when the answer had one.
  std::optional<std::vector<std::string>> shortcuts;
};

// "cancelled by the user" / "ended by the portal": the reason of a code.
std::string response_text(uint32_t code);

// Calls a portal method that answers through a Request object: append_args
// adds the arguments before the options, to which handle_token is added.
// Waits until the Response arrives or timeout_us passes, dispatching every
// other message meanwhile. On time-out the request is closed (which
// dismisses its dialog) and the result is a Timeout error.
Result<Response> call_request(sd_bus* bus, const char* interface, const char* method,
                              const std::function<int(sd_bus_message*)>& append_args, Options options,
                              uint64_t timeout_us);

// Starts the same call without waiting: the Response, when it comes, is
// stored in *out (code set, done flag raised) as the connection is
// processed. The returned slot keeps the subscription alive.
struct PendingResponse {
  bool done = false;
  Response response;
  std::string request;  // the Request object's path
};
Result<Slot> start_request(sd_bus* bus, const char* interface, const char* method,
                           const std::function<int(sd_bus_message*)>& append_args, Options options,
                           PendingResponse* out);

// Dispatches every message already received, without waiting. False when
// the connection is gone.
bool process_pending(sd_bus* bus);

// Closes a portal Session object (no reply awaited beyond the call's own).
void close_session(sd_bus* bus, const std::string& path);

// "D-Bus <what> failed: <strerror or the bus error's text>".
KmxError bus_error(const std::string& what, int r, const sd_bus_error* error = nullptr);

}  // namespace kmx::platform::portal
