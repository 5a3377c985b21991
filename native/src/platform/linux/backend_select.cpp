// Linux picks its backend when the runtime is created: the desktop portals
// in a Wayland session that offers them, X11 otherwise. KMX_LINUX_BACKEND
// ("x11" or "portal") overrides the choice.
#include <cstdlib>
#include <string_view>

#include "platform/linux/linux_backends.h"

namespace kmx::platform {

struct DirectContext {
  std::shared_ptr<x11::DirectContext> x11;
  std::shared_ptr<portal::DirectContext> portal;
};

namespace {

bool wayland_session() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return (display && *display) || (type && std::string_view(type) == "wayland");
}

template <class Context>
Result<BackendStart> wrap(Result<BackendStart> start, std::shared_ptr<Context> direct,
                          std::shared_ptr<Context> DirectContext::*member) {
  if (!start) return start;
  auto outer = std::make_shared<DirectContext>();
  (*outer).*member = std::move(direct);
  start->direct = std::move(outer);
  return start;
}

}  // namespace

Result<BackendStart> spawn(uint32_t raw_mask) {
  const char* forced = std::getenv("KMX_LINUX_BACKEND");
  bool use_portal = false;
  if (forced && *forced) {
    const std::string_view choice(forced);
    if (choice == "portal") {
      use_portal = true;
    } else if (choice != "x11") {
      return KmxError::invalid_argument("KMX_LINUX_BACKEND must be \"x11\" or \"portal\", not \"" +
                                        std::string(choice) + "\"");
    }
  } else {
    use_portal = wayland_session() && portal::available();
  }
  if (use_portal) {
    std::shared_ptr<portal::DirectContext> direct;
    auto start = portal::spawn(raw_mask, direct);
    return wrap(std::move(start), std::move(direct), &DirectContext::portal);
  }
  std::shared_ptr<x11::DirectContext> direct;
  auto start = x11::spawn(raw_mask, direct);
  return wrap(std::move(start), std::move(direct), &DirectContext::x11);
}

Status send_chord(DirectContext& ctx, std::span<const uint32_t> modifiers, uint32_t key) {
  return ctx.portal ? portal::send_chord(*ctx.portal, modifiers, key) : x11::send_chord(*ctx.x11, modifiers, key);
}

Result<std::vector<bool>> is_key_down_many(DirectContext& ctx, std::span<const uint32_t> usages) {
  return ctx.portal ? portal::is_key_down_many(*ctx.portal, usages) : x11::is_key_down_many(*ctx.x11, usages);
}

}  // namespace kmx::platform
