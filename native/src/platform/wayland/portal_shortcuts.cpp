#include "platform/wayland/portal_shortcuts.h"

#include <string.h>

#include <vector>

#include "platform/wayland/portal_keys.h"

namespace kmx::platform::portal {

namespace {

// Binding may wait on the user's dialog; the runtime gives an apply 45 s.
constexpr uint64_t BIND_TIMEOUT_US = 40'000'000;
constexpr uint64_t SESSION_TIMEOUT_US = 5'000'000;

struct Entry {
  std::string id;
  std::string description;
  std::string trigger;
};

}  // namespace

PortalShortcuts::PortalShortcuts(sd_bus* bus, std::function<void(uint64_t, bool)> emit, std::function<void()> ended)
    : bus_(bus), emit_(std::move(emit)), ended_(std::move(ended)) {}

PortalShortcuts::~PortalShortcuts() { clear(); }

Result<void> PortalShortcuts::subscribe() {
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus_, &slot, nullptr, DESKTOP_PATH, SHORTCUTS_INTERFACE, "Activated", on_activated, this);
  if (r < 0) return bus_error("match on Activated", r);
  activated_.reset(slot);
  r = sd_bus_match_signal(bus_, &slot, nullptr, DESKTOP_PATH, SHORTCUTS_INTERFACE, "Deactivated", on_deactivated, this);
  if (r < 0) return bus_error("match on Deactivated", r);
  deactivated_.reset(slot);
  r = sd_bus_match_signal(bus_, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "NameOwnerChanged", on_owner_changed, this);
  if (r < 0) return bus_error("match on NameOwnerChanged", r);
  owner_.reset(slot);
  return {};
}

Result<PortalShortcuts::Session> PortalShortcuts::open_session() {
  const std::string token = new_token();
  Session session;
  // Subscribed before the session exists, so a close right after creation is seen.
  session.path = session_path(bus_, token);
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus_, &slot, nullptr, session.path.c_str(), SESSION_INTERFACE, "Closed", on_closed, this);
  if (r < 0) return bus_error("match on Closed", r);
  session.closed.reset(slot);
  auto response = call_request(bus_, SHORTCUTS_INTERFACE, "CreateSession", nullptr, {{"session_handle_token", token}},
                               SESSION_TIMEOUT_US);
  if (!response) {
    if (response.error().kind() == KmxError::Kind::Timeout)
      return KmxError::backend("the GlobalShortcuts portal did not create a session in time");
    return std::move(response).error();
  }
  if (response->code != 0)
    return KmxError::backend("the GlobalShortcuts portal refused a session (" + response_text(response->code) + ")");
  if (!response->session_handle.empty() && response->session_handle != session.path) {
    session.path = response->session_handle;
    r = sd_bus_match_signal(bus_, &slot, nullptr, session.path.c_str(), SESSION_INTERFACE, "Closed", on_closed, this);
    if (r < 0) return bus_error("match on Closed", r);
    session.closed.reset(slot);
  }
  return session;
}

void PortalShortcuts::close(Session& session) {
  if (session.path.empty()) return;
  session.closed.reset();  // our own close is no loss of the session
  close_session(bus_, session.path);
  session = Session{};
}

void PortalShortcuts::release_held() {
  for (uint64_t id : held_) emit_(id, false);
  held_.clear();
}

Result<hotkeys::ApplyOutcome> PortalShortcuts::apply(const model::ShortcutList& shortcuts) {
  std::vector<Entry> entries;
  std::map<std::string, std::string> by_trigger;
  for (const model::Shortcut& s : shortcuts) {
    auto trigger = shortcut_trigger(s.accelerator);
    if (!trigger) return std::move(trigger).error();
    const auto [it, fresh] = by_trigger.emplace(*trigger, s.accelerator);
    if (!fresh) return KmxError::backend("hotkey already registered");
    entries.push_back({std::to_string(s.id), s.description, std::move(*trigger)});
  }
  if (entries.empty()) {
    clear();
    return hotkeys::ApplyOutcome::applied();
  }

  auto session = open_session();
  if (!session) return std::move(session).error();
  auto append = [&](sd_bus_message* m) {
    int r = sd_bus_message_append(m, "o", session->path.c_str());
    if (r < 0) return r;
    if ((r = sd_bus_message_open_container(m, 'a', "(sa{sv})")) < 0) return r;
    for (const Entry& e : entries) {
      if ((r = sd_bus_message_open_container(m, 'r', "sa{sv}")) < 0) return r;
      if ((r = sd_bus_message_append(m, "s", e.id.c_str())) < 0) return r;
      if ((r = append_options(m, {{"description", e.description}, {"preferred_trigger", e.trigger}})) < 0) return r;
      if ((r = sd_bus_message_close_container(m)) < 0) return r;
    }
    if ((r = sd_bus_message_close_container(m)) < 0) return r;
    return sd_bus_message_append(m, "s", "");  // no parent window
  };
  auto bound = call_request(bus_, SHORTCUTS_INTERFACE, "BindShortcuts", append, {}, BIND_TIMEOUT_US);
  if (!bound || bound->code != 0) {
    close(*session);
    if (!bound && bound.error().kind() == KmxError::Kind::Timeout)
      return KmxError::backend("the GlobalShortcuts portal did not bind the shortcuts in time; the previous set stays");
    if (!bound) return std::move(bound).error();
    return KmxError::backend("the GlobalShortcuts portal refused the shortcuts (" + response_text(bound->code) +
                             "); the previous set stays");
  }

  // The old registrations go away: what they held is released now.
  release_held();
  close(current_);
  for (size_t i = 0; i < entries.size(); ++i) session->ids[entries[i].id] = shortcuts[i].id;
  current_ = std::move(*session);
  return hotkeys::ApplyOutcome::applied();
}

void PortalShortcuts::clear() {
  release_held();
  close(current_);
}

void PortalShortcuts::edge(sd_bus_message* m, bool down) {
  const char* session = nullptr;
  const char* id = nullptr;
  if (sd_bus_message_read(m, "os", &session, &id) < 0 || !session || !id) return;
  if (current_.path != session) return;  // a session already replaced
  const auto found = current_.ids.find(id);
  if (found == current_.ids.end()) return;
  const uint64_t host_id = found->second;
  if (down ? !held_.insert(host_id).second : held_.erase(host_id) == 0) return;
  emit_(host_id, down);
}

int PortalShortcuts::on_activated(sd_bus_message* m, void* self, sd_bus_error*) {
  static_cast<PortalShortcuts*>(self)->edge(m, true);
  return 0;
}

int PortalShortcuts::on_deactivated(sd_bus_message* m, void* self, sd_bus_error*) {
  static_cast<PortalShortcuts*>(self)->edge(m, false);
  return 0;
}

int PortalShortcuts::on_closed(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* me = static_cast<PortalShortcuts*>(self);
  const char* path = sd_bus_message_get_path(m);
  if (!path || me->current_.path != path) return 0;  // a session being bound that the portal dropped
  me->release_held();
  me->current_.closed.reset();
  me->current_ = Session{};
  me->ended_();
  return 0;
}

int PortalShortcuts::on_owner_changed(sd_bus_message* m, void* self, sd_bus_error*) {
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0 || !name) return 0;
  if (strcmp(name, DESKTOP_NAME) != 0 || (new_owner && *new_owner)) return 0;
  auto* me = static_cast<PortalShortcuts*>(self);
  me->release_held();
  me->current_.closed.reset();
  me->current_ = Session{};
  me->ended_();
  return 0;
}

}  // namespace kmx::platform::portal
