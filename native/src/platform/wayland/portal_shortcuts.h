// The GlobalShortcuts side of the portal backend, on the worker thread: one
// portal session holds the bound list; a new list is bound in a new
// session (the portal binds a session's shortcuts only once), and the old
// session is closed only once the new one is bound, so a refused list
// leaves the previous one working.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "error/result.h"
#include "hotkeys/apply_outcome.h"
#include "model/shortcut.h"
#include "platform/wayland/portal_bus.h"

namespace kmx::platform::portal {

class PortalShortcuts {
 public:
  // emit(id, down) reports a hot-key edge; ended(why) reports that the
  // portal closed the session or went away.
  PortalShortcuts(sd_bus* bus, std::function<void(uint64_t, bool)> emit, std::function<void()> ended);
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
    Slot closed;
  };

  Result<Session> open_session();
  void close(Session& session);
  void release_held();

  static int on_activated(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_deactivated(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_closed(sd_bus_message* m, void* self, sd_bus_error*);
  static int on_owner_changed(sd_bus_message* m, void* self, sd_bus_error*);
  void edge(sd_bus_message* m, bool down);

  sd_bus* bus_;
  std::function<void(uint64_t, bool)> emit_;
  std::function<void()> ended_;
  Session current_;
  std::set<uint64_t> held_;
  Slot activated_, deactivated_, owner_;
};

}  // namespace kmx::platform::portal
