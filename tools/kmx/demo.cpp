// `kmx demo`: the library's round trip in plain words. Registers hot keys,
// types them as chords, and checks that each came back as a hot-key press
// and release, with the injected keys marked as the library's own.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "key_names.h"
#include "session.h"

namespace kmx_tool {

namespace {

struct Observed {
  bool pressed = false;
  bool released = false;
  int own_keys = 0;
  int foreign_keys = 0;
};

// Collects events until the hot key's release (or a quiet second).
Observed observe(KmxHandle handle, uint64_t id) {
  Observed seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < deadline) {
    KmxEvent e{};
    const uint32_t wait = seen.released ? 300 : 1000;
    if (kmx_poll_event(handle, &e, wait) != KMX_OK) break;
    if (e.kind == KMX_EVENT_HOTKEY && e.shortcut_id == id) (e.down ? seen.pressed : seen.released) = true;
    if (e.kind == KMX_EVENT_KEY) ++((e.flags & KMX_FLAG_SELF_INJECTED) ? seen.own_keys : seen.foreign_keys);
  }
  return seen;
}

bool type_chord(const Session& session, const std::string& text, Chord& chord) {
  std::string error;
  if (!parse_chord(text, chord, error)) {
    std::fprintf(stderr, "kmx: %s\n", error.c_str());
    return false;
  }
  return session.check("kmx_send_chord",
                       kmx_send_chord(session.handle(), chord.modifiers.data(), chord.modifiers.size(), chord.key));
}

}  // namespace

int run_demo() {
  Session session;
  if (!session.open(KMX_RAW_KEYS)) return 1;
  std::string name(kmx_backend(session.handle(), nullptr, 0), '\0');
  kmx_backend(session.handle(), name.data(), name.size());
  name.pop_back();
  std::printf("keymux is running on the %s backend (capabilities 0x%llx).\n", name.c_str(),
              static_cast<unsigned long long>(kmx_capabilities(session.handle())));

  const std::vector<KmxShortcut> shortcuts = {{1, "Ctrl+Alt+K", "open the palette"},
                                              {2, "Ctrl+Shift+F8", "toggle recording"}};
  if (!session.check("kmx_apply_hotkeys", kmx_apply_hotkeys(session.handle(), shortcuts.data(), shortcuts.size())))
    return 1;
  std::printf("Registered %zu system-wide hot keys: Ctrl+Alt+K (id 1) and Ctrl+Shift+F8 (id 2).\n", shortcuts.size());

  bool ok = true;
  for (const KmxShortcut& s : shortcuts) {
    Chord chord;
    if (!type_chord(session, s.accelerator, chord)) return 1;
    const Observed seen = observe(session.handle(), s.id);
    const int expected_keys = 2 * static_cast<int>(chord.modifiers.size()) + 2;
    const bool good = seen.pressed && seen.released && seen.own_keys == expected_keys;
    std::printf("Typed %s: hot key %llu was %s and %s; %d of %d injected key events came back marked as our own.%s\n",
                s.accelerator, static_cast<unsigned long long>(s.id), seen.pressed ? "pressed" : "NOT pressed",
                seen.released ? "released" : "NOT released", seen.own_keys, expected_keys, good ? "" : "  <-- wrong");
    ok = ok && good;
  }

  Chord plain;
  if (!type_chord(session, "Shift+A", plain)) return 1;
  const Observed typed = observe(session.handle(), 0);
  std::printf("Typed Shift+A without a hot key: %d key events seen, all marked as our own.%s\n", typed.own_keys,
              typed.own_keys == 4 ? "" : "  <-- wrong");
  ok = ok && typed.own_keys == 4;

  const int k_down = kmx_is_key_down(session.handle(), 0x0E);
  std::printf("KeyK is %s after the chords.%s\n", k_down == 0 ? "up again" : "still reported down",
              k_down == 0 ? "" : "  <-- wrong");
  ok = ok && k_down == 0;

  if (!session.check("kmx_apply_hotkeys", kmx_apply_hotkeys(session.handle(), nullptr, 0))) return 1;
  std::printf("Released every hot key.\n");
  std::printf(ok ? "The round trip worked.\n" : "The round trip did NOT work.\n");
  return ok ? 0 : 1;
}

}  // namespace kmx_tool
