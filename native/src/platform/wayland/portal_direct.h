// The host-thread side of the portal backend: a session-bus connection of
// its own and the RemoteDesktop session that carries chords, used behind a
// mutex. The session belongs to this connection, as the portal ties
// sessions to their sender.
#pragma once

#include <mutex>
#include <string>

#include "platform/wayland/portal_bus.h"

namespace kmx::platform::portal {

std::string raw_input_unavailable();

struct DirectContext {
  explicit DirectContext(Bus b) : bus(std::move(b)) {}
  ~DirectContext();
  DirectContext(const DirectContext&) = delete;
  DirectContext& operator=(const DirectContext&) = delete;

  enum class Consent { None, Asking, Granted };

  std::mutex mu;  // guards everything below
  Bus bus;
  Consent consent = Consent::None;
  std::string session;
  std::string restore_token;  // lets a later session skip the dialog
  PendingResponse start;
  Slot start_slot;
  Slot closed_slot;
  bool closed_by_portal = false;
};

}  // namespace kmx::platform::portal
