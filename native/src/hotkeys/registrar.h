// What HotkeySet needs from a platform's hot-key registrar. Static
// dispatch: each platform's registrar is a plain class meeting the concept.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "error/result.h"

namespace kmx::hotkeys {

// Outcome of Registrar::release. On failure the handle comes back when the
// registration can still be addressed ("handle given back"); without it the
// registration may stay active but can no longer be targeted ("handle
// consumed").
template <class Handle>
struct ReleaseResult {
  std::optional<KmxError> error;  // none: released
  std::optional<Handle> handle;   // only with an error: given back

  static ReleaseResult released() { return {}; }
  static ReleaseResult given_back(KmxError e, Handle h) { return {std::move(e), std::move(h)}; }
  static ReleaseResult consumed(KmxError e) { return {std::move(e), std::nullopt}; }

  bool ok() const noexcept { return !error.has_value(); }
};

template <class R>
concept Registrar = requires(R& r, const std::string& text, uint64_t id, typename R::Handle handle) {
  typename R::Handle;
  // Canonical text: equal exactly when two accelerators name one hot key.
  { r.normalize(text) } -> std::same_as<std::string>;
  // Parse errors are InvalidArgument, platform refusals Backend.
  { r.register_hotkey(text, id) } -> std::same_as<Result<typename R::Handle>>;
  { r.release(std::move(handle)) } -> std::same_as<ReleaseResult<typename R::Handle>>;
};

}  // namespace kmx::hotkeys
