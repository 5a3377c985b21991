// Chords through the RemoteDesktop portal (evdev key codes, after the
// user's consent), on the caller's thread. Key state has no portal.
#include <optional>
#include <vector>

#include "model/keys.h"
#include "platform/chord/chord.h"
#include "platform/linux/linux_backends.h"
#include "platform/wayland/portal_direct.h"
#include "platform/wayland/portal_keys.h"

namespace kmx::platform::portal {

namespace {

constexpr uint32_t DEVICE_KEYBOARD = 1;
constexpr uint32_t PERSIST_UNTIL_REVOKED = 2;
constexpr uint64_t SETUP_TIMEOUT_US = 5'000'000;
// A portal that remembers the consent answers Start at once.
constexpr uint64_t START_GRACE_US = 500'000;

const char* const WAITING =
    "keyboard input waits for the user's consent (RemoteDesktop portal); this chord was not sent";

int on_closed(sd_bus_message*, void* ctx, sd_bus_error*) {
  static_cast<DirectContext*>(ctx)->closed_by_portal = true;
  return 0;
}

void forget_session(DirectContext& ctx) {
  ctx.start_slot.reset();
  ctx.closed_slot.reset();
  if (!ctx.closed_by_portal) close_session(ctx.bus.get(), ctx.session);
  ctx.session.clear();
  ctx.consent = DirectContext::Consent::None;
  ctx.start = PendingResponse{};
  ctx.closed_by_portal = false;
}

// CreateSession, SelectDevices (keyboard, remembered until revoked), then
// Start without waiting for the user.
Status ask_consent(DirectContext& ctx) {
  sd_bus* bus = ctx.bus.get();
  const std::string token = new_token();
  auto created = call_request(bus, REMOTE_DESKTOP_INTERFACE, "CreateSession", nullptr,
                              {{"session_handle_token", token}}, SETUP_TIMEOUT_US);
  if (!created) return KmxError::backend("RemoteDesktop CreateSession: " + created.error().display());
  if (created->code != 0)
    return KmxError::backend("the RemoteDesktop portal refused a session (" + response_text(created->code) + ")");
  ctx.session = created->session_handle.empty() ? session_path(bus, token) : created->session_handle;
  sd_bus_slot* slot = nullptr;
  if (sd_bus_match_signal(bus, &slot, nullptr, ctx.session.c_str(), SESSION_INTERFACE, "Closed", on_closed, &ctx) >= 0)
    ctx.closed_slot.reset(slot);

  Options select{{"types", DEVICE_KEYBOARD}};
  if (interface_version(bus, REMOTE_DESKTOP_INTERFACE) >= 2) {
    select.emplace_back("persist_mode", PERSIST_UNTIL_REVOKED);
    if (!ctx.restore_token.empty()) select.emplace_back("restore_token", ctx.restore_token);
  }
  const std::string session = ctx.session;
  auto on_session = [&session](sd_bus_message* m) { return sd_bus_message_append(m, "o", session.c_str()); };
  auto selected = call_request(bus, REMOTE_DESKTOP_INTERFACE, "SelectDevices", on_session, select, SETUP_TIMEOUT_US);
  if (!selected || selected->code != 0) {
    std::string why = selected ? response_text(selected->code) : selected.error().display();
    forget_session(ctx);
    return KmxError::backend("RemoteDesktop SelectDevices: " + why);
  }

  auto on_start = [&session](sd_bus_message* m) {
    const int r = sd_bus_message_append(m, "o", session.c_str());
    return r < 0 ? r : sd_bus_message_append(m, "s", "");
  };
  auto started = start_request(bus, REMOTE_DESKTOP_INTERFACE, "Start", on_start, {}, &ctx.start);
  if (!started) {
    forget_session(ctx);
    return KmxError::backend("RemoteDesktop Start: " + started.error().display());
  }
  ctx.start_slot = std::move(started.value());
  ctx.consent = DirectContext::Consent::Asking;
  return {};
}

void wait_briefly(DirectContext& ctx, uint64_t timeout_us) {
  const uint64_t start = monotonic_us();
  for (;;) {
    if (!process_pending(ctx.bus.get()) || ctx.start.done) return;
    const uint64_t now = monotonic_us();
    if (now - start >= timeout_us) return;
    sd_bus_wait(ctx.bus.get(), timeout_us - (now - start));
  }
}

// Where the consent stands once every received message is handled.
Status settle_consent(DirectContext& ctx) {
  if (!process_pending(ctx.bus.get())) return KmxError::backend("the D-Bus session bus connection was lost");
  if (ctx.consent == DirectContext::Consent::Asking && ctx.start.done) {
    const Response response = ctx.start.response;
    if (response.code != 0 || !(response.devices & DEVICE_KEYBOARD)) {
      forget_session(ctx);
      return KmxError::not_delivered(response.code != 0
                                         ? "keyboard input was not allowed (" + response_text(response.code) + ")"
                                         : std::string("the RemoteDesktop portal granted no keyboard"));
    }
    if (!response.restore_token.empty()) ctx.restore_token = response.restore_token;
    ctx.start_slot.reset();
    ctx.consent = DirectContext::Consent::Granted;
  }
  // A refused Start closes the session too; the answer above is the better reason.
  if (ctx.closed_by_portal) {
    forget_session(ctx);
    return KmxError::not_delivered(
        "the RemoteDesktop portal closed the keyboard session; the next chord asks for consent again");
  }
  return {};
}

std::optional<KmxError> post_key(DirectContext& ctx, uint32_t code, bool press) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const int r = sd_bus_call_method(ctx.bus.get(), DESKTOP_NAME, DESKTOP_PATH, REMOTE_DESKTOP_INTERFACE,
                                   "NotifyKeyboardKeycode", &error, nullptr, "oa{sv}iu", ctx.session.c_str(), 0,
                                   static_cast<int32_t>(code), press ? 1u : 0u);
  if (r >= 0) return std::nullopt;
  KmxError e = bus_error("NotifyKeyboardKeycode", r, &error);
  sd_bus_error_free(&error);
  return e;
}

}  // namespace

DirectContext::~DirectContext() {
  if (!session.empty() && !closed_by_portal) close_session(bus.get(), session);
}

Status send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key) {
  std::lock_guard lock(ctx.mu);
  if (modifiers.size() > chord::MAX_CHORD_MODIFIERS) return KmxError::invalid_argument("at most 4 chord modifiers");
  const uint32_t main = evdev_code(key);
  if (main == 0) return KmxError::unsupported("no evdev key code for portable usage " + error::hex(key));
  std::vector<uint32_t> codes;
  for (uint32_t usage : modifiers) {
    if (!model::modifier_by_usage(usage))
      return KmxError::invalid_argument("not a modifier usage: " + error::hex(usage));
    codes.push_back(evdev_code(usage));
  }

  if (auto settled = settle_consent(ctx); !settled) return settled;
  if (ctx.consent == DirectContext::Consent::None) {
    if (auto asked = ask_consent(ctx); !asked) return asked;
    wait_briefly(ctx, START_GRACE_US);
    if (auto settled = settle_consent(ctx); !settled) return settled;
  }
  if (ctx.consent != DirectContext::Consent::Granted) return KmxError::delivery_uncertain(WAITING);

  // Without key state nothing the user holds can be left out of the plan.
  const auto plan = chord::plan_chord({}, codes, main);
  return chord::post_plan(plan, [&ctx](uint32_t code, bool press) { return post_key(ctx, code, press); });
}

Result<std::vector<bool>> is_key_down_many(DirectContext&, std::span<const uint32_t>) {
  return KmxError::unsupported(
      "key state is not available in a Wayland session (wayland-portal backend); chords there cannot check the "
      "keys the user holds either");
}

}  // namespace kmx::platform::portal
