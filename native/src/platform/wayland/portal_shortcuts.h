// The GlobalShortcuts side of the portal backend, on the worker thread: one
// portal session holds the bound list, and a new list is bound in a new
// session (the portal binds a session's shortcuts only once). Where the
// portal binds through BindShortcuts, the old session is closed only once
// the new one is bound, so a refused list leaves the previous one working.
// Where it binds at CreateSession (KDE Plasma 5.27), a combination stays
// with the session that had it until that one closes, so the old session
// goes first and a failed list is bound again from the previous one.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"
#include "platform/backend.h"
#include "platform/held_hotkeys.h"
#include "platform/wayland/portal_bus.h"

namespace kmx::platform::portal {

class PortalShortcuts {
 public:
  // Hot-key edges go to events; ended() reports that the portal closed the
  // session or went away.
  PortalShortcuts(sd_bus* bus, EventSender events, std::function<void()> ended);
  ~PortalShortcuts();
  PortalShortcuts(const PortalShortcuts&) = delete;
  PortalShortcuts& operator=(const PortalShortcuts&) = delete;

  Result<void> subscribe();
  Result<hotkeys::ApplyOutcome> apply(const model::ShortcutList& shortcuts);
  // Closes the session; held hot keys get their release first.
  void clear();

 private:
  struct Session {
    std::string path;
    std::map<std::string, uint64_t> ids;  // shortcut id text -> host id
    ShortcutSpecs specs;                  // what was bound, for a rollback
    std::vector<std::string> accelerators;
    std::string token;
    Slot closed;
  };

  // Opens a session and binds specs in it; an unbound shortcut fails it.
  Result<Session> bind(ShortcutSpecs specs, std::vector<std::string> accelerators, const std::string& token);
  Result<Session> open_session(const ShortcutSpecs& specs, const std::string& token, Response& created);
  void lost();
  void close(Session& session);

  static int on_activated(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_deactivated(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_closed(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_owner_changed(sd_bus_message* m, void* self, sd_bus_error*);
  void edge(sd_bus_message* m, bool down);

  sd_bus* bus_;
  std::function<void()> ended_;
  Session current_;
  HeldHotkeys<std::string> held_;  // by shortcut id at the portal
  Slot activated_, deactivated_, owner_;
  uint32_t version_ = 0;
  bool binds_at_creation_ = false;  // learnt from the first CreateSession answer
  std::string token_;               // this program's shortcut set
  std::set<std::string> watched_;   // frontend and desktop backend names
};

}  // namespace kmx::platform::portal
