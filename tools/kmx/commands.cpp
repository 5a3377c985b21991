#include "commands.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "display_info.h"
#include "event_json.h"
#include "event_loop.h"
#include "key_names.h"
#include "session.h"

namespace kmx_tool {

namespace {

// Read by the poll thread too, so an atomic (lock-free, thus signal-safe).
std::atomic<bool> INTERRUPTED{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_signal(int) { INTERRUPTED = true; }

std::string hex(uint64_t value, int width = 0) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%0*llx", width, static_cast<unsigned long long>(value));
  return buffer;
}

std::string backend_name(KmxHandle handle) {
  std::string text(kmx_backend(handle, nullptr, 0), '\0');
  kmx_backend(handle, text.data(), text.size());
  if (!text.empty()) text.pop_back();
  return text;
}

// "ID=ACCEL" into an id and the accelerator text.
bool parse_hotkey_option(const std::string& text, uint64_t& id, std::string& accelerator) {
  const size_t eq = text.find('=');
  if (eq == 0 || eq == std::string::npos) return false;
  try {
    size_t used = 0;
    id = std::stoull(text.substr(0, eq), &used);
    if (used != eq) return false;
  } catch (const std::exception&) {
    return false;
  }
  accelerator = text.substr(eq + 1);
  return true;
}

}  // namespace

int run_info() {
  Session session;
  if (!session.open(0)) return 1;
  nlohmann::json j;
  j["abi_version"] = hex(kmx_abi_version(), 8);
  j["backend"] = backend_name(session.handle());
  j["capabilities"] = hex(kmx_capabilities(session.handle()));
  if (const auto xwayland = under_xwayland()) {
    j["xwayland"] = *xwayland;
    if (*xwayland)
      j["note"] =
          "Xwayland: hot keys, raw input, key state and chords reach X11 clients only, not Wayland ones; "
          "capabilities 0x40 and 0x80 are off";
  }
  std::cout << j.dump() << std::endl;
  return 0;
}

int run_listen(const ListenOptions& options) {
  std::vector<uint64_t> ids;
  std::vector<std::string> accelerators;
  for (const std::string& option : options.hotkeys) {
    uint64_t id = 0;
    std::string accelerator;
    if (!parse_hotkey_option(option, id, accelerator)) {
      std::fprintf(stderr, "kmx: --hotkey takes ID=ACCELERATOR with a decimal id, not \"%s\"\n", option.c_str());
      return 2;
    }
    ids.push_back(id);
    accelerators.push_back(accelerator);
  }
  const uint32_t mask = (options.keys ? KMX_RAW_KEYS : 0u) | (options.buttons ? KMX_RAW_BUTTONS : 0u) |
                        (options.drag ? KMX_RAW_DRAG_MOTION : 0u);
  Session session;
  if (!session.open(mask)) return 1;
  std::vector<KmxShortcut> shortcuts;
  for (size_t i = 0; i < ids.size(); ++i) shortcuts.push_back({ids[i], accelerators[i].c_str(), ""});
  if (!shortcuts.empty() &&
      !session.check("kmx_apply_hotkeys", kmx_apply_hotkeys(session.handle(), shortcuts.data(), shortcuts.size())))
    return 1;

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::fprintf(stderr, "kmx: listening on %s; interrupt to stop\n", backend_name(session.handle()).c_str());
  // Events are polled on a thread of their own: the main thread runs the
  // platform's event loop, without which macOS delivers no hot key.
  std::atomic<bool> done{false};
  int status = 0;
  std::thread poller([&] {
    uint64_t seen = 0;
    while (!INTERRUPTED && (options.count == 0 || seen < options.count)) {
      KmxEvent event{};
      const KmxStatus polled = kmx_poll_event(session.handle(), &event, 100);
      if (polled == KMX_ERR_TIMEOUT) continue;
      if (polled != KMX_OK) {
        report_failure("kmx_poll_event", polled, last_error(session.handle()));
        status = 1;
        break;
      }
      std::cout << event_json(event).dump() << std::endl;
      ++seen;
    }
    done = true;
  });
  while (!done && !INTERRUPTED) run_main_event_loop(0.05);
  poller.join();
  return status;
}

int run_chord(const std::string& text) {
  Chord chord;
  std::string error;
  if (!parse_chord(text, chord, error)) {
    std::fprintf(stderr, "kmx: %s\n", error.c_str());
    return 2;
  }
  Session session;
  if (!session.open(0)) return 1;
  return session.check("kmx_send_chord",
                       kmx_send_chord(session.handle(), chord.modifiers.data(), chord.modifiers.size(), chord.key))
             ? 0
             : 1;
}

int run_keys(const std::vector<std::string>& names) {
  std::vector<uint32_t> usages;
  for (const std::string& name : names) {
    const auto usage = usage_for_name(name);
    if (!usage) {
      std::fprintf(stderr, "kmx: unknown key name \"%s\"\n", name.c_str());
      return 2;
    }
    usages.push_back(*usage);
  }
  Session session;
  if (!session.open(0)) return 1;
  std::vector<uint8_t> results(usages.size(), 0);
  if (!session.check("kmx_is_key_down_many",
                     kmx_is_key_down_many(session.handle(), usages.data(), usages.size(), results.data())))
    return 1;
  nlohmann::json j = nlohmann::json::object();
  for (size_t i = 0; i < names.size(); ++i) j[std::string(*name_for_usage(usages[i]))] = results[i] != 0;
  std::cout << j.dump() << std::endl;
  return 0;
}

}  // namespace kmx_tool
