#include "platform/wayland/portal_shortcuts.h"

#include <algorithm>
#include <vector>

#include "platform/wayland/portal_identity.h"
#include "platform/wayland/portal_keys.h"
#include "platform/wayland/portal_watch.h"

namespace kmx::platform::portal {

namespace {

// Binding may wait on the user's dialog; the runtime gives an apply 45 s.
constexpr uint64_t BIND_TIMEOUT_US = 40'000'000;
constexpr uint64_t SESSION_TIMEOUT_US = 5'000'000;

std::string joined_sorted(std::vector<std::string> texts) {
  std::sort(texts.begin(), texts.end());
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : ", ") + t;
  return out;
}

}  // namespace

PortalShortcuts::PortalShortcuts(sd_bus* bus, EventSender events, std::function<void()> ended)
    : bus_(bus), ended_(std::move(ended)), held_(std::move(events)) {}

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
  version_ = interface_version(bus_, SHORTCUTS_INTERFACE);
  token_ = shortcut_set_token();
  watched_ = {DESKTOP_NAME};
  for (std::string& name : shortcut_backend_names()) watched_.insert(std::move(name));
  return {};
}

Result<PortalShortcuts::Session> PortalShortcuts::open_session(const ShortcutSpecs& specs, const std::string& token,
                                                               Response& created) {
  Session session;
  // Subscribed before the session exists, so a close right after creation is seen.
  session.path = session_path(bus_, token);
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus_, &slot, nullptr, session.path.c_str(), SESSION_INTERFACE, "Closed", on_closed, this);
  if (r < 0) return bus_error("match on Closed", r);
  session.closed.reset(slot);
  Options options{{"session_handle_token", token}};
  // The first version of the interface was drafted with the shortcuts given
  // here, and KDE Plasma 5.27 binds only these.
  if (version_ == 1) options.emplace_back("shortcuts", specs);
  auto response = call_request(bus_, SHORTCUTS_INTERFACE, "CreateSession", nullptr, options, SESSION_TIMEOUT_US);
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
  created = std::move(response.value());
  return session;
}

Result<PortalShortcuts::Session> PortalShortcuts::bind(ShortcutSpecs specs, std::vector<std::string> accelerators,
                                                       const std::string& token) {
  Response created;
  auto session = open_session(specs, token, created);
  if (!session) return std::move(session).error();
  std::vector<std::string> bound_ids;
  // A portal that bound at creation says so with the list; its BindShortcuts
  // would bind nothing more (KDE 5.27 opens System Settings instead).
  if (created.shortcuts && !created.shortcuts->empty()) {
    binds_at_creation_ = true;
    bound_ids = *created.shortcuts;
  } else {
    auto append = [&](sd_bus_message* m) {
      int r = sd_bus_message_append(m, "o", session->path.c_str());
      if (r < 0) return r;
      if ((r = append_shortcuts(m, specs)) < 0) return r;
      return sd_bus_message_append(m, "s", "");  // no parent window
    };
    auto bound = call_request(bus_, SHORTCUTS_INTERFACE, "BindShortcuts", append, {}, BIND_TIMEOUT_US);
    if (!bound || bound->code != 0) {
      close(*session);
      if (!bound && bound.error().kind() == KmxError::Kind::Timeout)
        return KmxError::backend("the GlobalShortcuts portal did not bind the shortcuts in time");
      if (!bound) return std::move(bound).error();
      return KmxError::backend("the GlobalShortcuts portal refused the shortcuts (" + response_text(bound->code) + ")");
    }
    // The answer lists what the portal bound; a portal that lists nothing bound nothing.
    bound_ids = bound->shortcuts.value_or(std::vector<std::string>{});
  }
  std::vector<std::string> unbound;
  for (size_t i = 0; i < specs.size(); ++i)
    if (std::find(bound_ids.begin(), bound_ids.end(), specs[i].id) == bound_ids.end())
      unbound.push_back(accelerators[i]);
  if (!unbound.empty()) {
    close(*session);
    return KmxError::backend("the GlobalShortcuts portal did not bind " + joined_sorted(std::move(unbound)));
  }
  session->specs = std::move(specs);
  session->accelerators = std::move(accelerators);
  session->token = token;
  return session;
}

void PortalShortcuts::close(Session& session) {
  if (session.path.empty()) return;
  session.closed.reset();  // our own close is no loss of the session
  close_session(bus_, session.path);
  session = Session{};
}

Result<hotkeys::ApplyOutcome> PortalShortcuts::apply(const model::ShortcutList& shortcuts) {
  const ShiftStyle style = kde_desktop() ? ShiftStyle::ShiftedSymbol : ShiftStyle::Plain;
  ShortcutSpecs specs;
  std::vector<std::string> accelerators;
  std::map<std::string, uint64_t> ids;
  for (const model::Shortcut& s : shortcuts) {
    auto trigger = shortcut_trigger(s.accelerator, style);
    if (!trigger) return std::move(trigger).error();
    // The trigger is the shortcut's id at the portal: desktops keep a
    // shortcut's combination under its id, so a combination always comes
    // back under the same id, whichever host id it serves.
    if (!ids.emplace(*trigger, s.id).second) return KmxError::backend("hotkey already registered");
    // Desktops skip a shortcut without a description (KDE does).
    specs.push_back({*trigger, s.description.empty() ? s.accelerator : s.description, *trigger});
    accelerators.push_back(s.accelerator);
  }
  if (specs.empty()) {
    clear();
    return hotkeys::ApplyOutcome::applied();
  }

  if (binds_at_creation_ && !current_.path.empty()) {
    // The old session gives up its combinations first; a failed list binds
    // the previous one again.
    Session previous = std::move(current_);
    current_ = Session{};
    held_.release_all();
    ShortcutSpecs old_specs = previous.specs;
    std::vector<std::string> old_accelerators = previous.accelerators;
    std::map<std::string, uint64_t> old_ids = previous.ids;
    const std::string token = previous.token;
    close(previous);
    auto made = bind(std::move(specs), std::move(accelerators), token);
    if (made) {
      made->ids = std::move(ids);
      current_ = std::move(*made);
      return hotkeys::ApplyOutcome::applied();
    }
    const std::string old_list = joined_sorted(old_accelerators);
    auto restored = bind(std::move(old_specs), std::move(old_accelerators), token);
    if (!restored) return KmxError::backend(made.error().message() + "; rollback could not restore: " + old_list);
    restored->ids = std::move(old_ids);
    current_ = std::move(*restored);
    return KmxError::backend(made.error().message() + "; the previous set was bound again");
  }

  // Both sessions live for a moment, so they take turns with two tokens.
  const std::string token = token_ + (binds_at_creation_ || current_.token != token_ + "a" ? "a" : "b");
  auto made = bind(std::move(specs), std::move(accelerators), token);
  if (!made) return KmxError::backend(made.error().message() + "; the previous set stays");

  // The old registrations go away: what they held is released now.
  held_.release_all();
  close(current_);
  made->ids = std::move(ids);
  current_ = std::move(*made);
  return hotkeys::ApplyOutcome::applied();
}

void PortalShortcuts::clear() {
  held_.release_all();
  close(current_);
}

void PortalShortcuts::edge(sd_bus_message* m, bool down) {
  const char* session = nullptr;
  const char* id = nullptr;
  if (sd_bus_message_read(m, "os", &session, &id) < 0 || !session || !id) return;
  if (current_.path != session) return;  // a session already replaced
  const auto found = current_.ids.find(id);
  if (found == current_.ids.end()) return;
  if (down)
    held_.press(found->first, found->second);
  else
    held_.release(found->first);
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
  me->lost();
  return 0;
}

int PortalShortcuts::on_owner_changed(sd_bus_message* m, void* self, sd_bus_error*) {
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0 || !name) return 0;
  auto* me = static_cast<PortalShortcuts*>(self);
  if (!me->watched_.count(name) || !old_owner || !*old_owner || (new_owner && *new_owner)) return 0;
  me->lost();
  return 0;
}

void PortalShortcuts::lost() {
  held_.release_all();
  current_.closed.reset();
  current_ = Session{};
  ended_();
}

}  // namespace kmx::platform::portal
