// The X11 backend against bare Xlib clients on one display ($DISPLAY):
//   (a) an XTest key press until kmx_poll_event returns it, beside a bare
//       XInput 2 client's delivery of the same press;
//   (b) kmx_apply_hotkeys of 40 shortcuts and their release, beside the same
//       core grabs made directly with one round trip, and beside the core and
//       XInput 2 grabs that the library takes, made the same way.
// Prints one "name: value unit" line per figure, then the ratios.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <X11/Xlib-xcb.h>
#include <xcb/xinput.h>
#include <keymux/keymux.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int PRESSES = 400;
constexpr int APPLY_ROUNDS = 30;
constexpr unsigned KEYCODE = 38;  // the A position

double us_since(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double, std::micro>(t1 - t0).count();
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

Display* open_retrying() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display* d = XOpenDisplay(nullptr)) return d;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

// Waits until `counter` reaches `target`, at most two seconds.
bool wait_for(const std::atomic<int>& counter, int target) {
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (counter.load(std::memory_order_acquire) < target) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

struct Latency {
  std::vector<double> kmx, bare;
};

Latency measure_latency(KmxHandle h) {
  Display* bare = open_retrying();
  Display* injector = open_retrying();
  int opcode = 0, event = 0, error = 0, major = 2, minor = 2;
  XQueryExtension(bare, "XInputExtension", &opcode, &event, &error);
  XIQueryVersion(bare, &major, &minor);
  unsigned char mask_bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(mask_bits, XI_RawKeyPress);
  XIEventMask mask{XIAllMasterDevices, sizeof mask_bits, mask_bits};
  XISelectEvents(bare, DefaultRootWindow(bare), &mask, 1);
  XSync(bare, False);

  std::vector<Clock::time_point> sent(PRESSES), kmx_at(PRESSES), bare_at(PRESSES);
  std::atomic<int> kmx_seen{0}, bare_seen{0};
  std::atomic<bool> done{false};

  std::thread bare_thread([&] {
    while (bare_seen.load() < PRESSES) {
      XEvent e;
      XNextEvent(bare, &e);
      if (e.xcookie.type == GenericEvent && e.xcookie.extension == opcode && XGetEventData(bare, &e.xcookie)) {
        if (e.xcookie.evtype == XI_RawKeyPress) {
          const int i = bare_seen.load();
          bare_at[i] = Clock::now();
          bare_seen.store(i + 1, std::memory_order_release);
        }
        XFreeEventData(bare, &e.xcookie);
      }
    }
  });
  std::thread kmx_thread([&] {
    KmxEvent e{};
    while (kmx_seen.load() < PRESSES && !done.load()) {
      if (kmx_poll_event(h, &e, 100) != KMX_OK) continue;
      if (e.kind != KMX_EVENT_KEY || !e.down) continue;
      const int i = kmx_seen.load();
      kmx_at[i] = Clock::now();
      kmx_seen.store(i + 1, std::memory_order_release);
    }
  });

  Latency out;
  for (int i = 0; i < PRESSES; ++i) {
    sent[i] = Clock::now();
    XTestFakeKeyEvent(injector, KEYCODE, True, CurrentTime);
    XFlush(injector);
    const bool seen = wait_for(kmx_seen, i + 1) && wait_for(bare_seen, i + 1);
    XTestFakeKeyEvent(injector, KEYCODE, False, CurrentTime);
    XSync(injector, False);
    if (!seen) {
      std::fprintf(stderr, "press %d was not delivered to both clients\n", i);
      break;
    }
    out.kmx.push_back(us_since(sent[i], kmx_at[i]));
    out.bare.push_back(us_since(sent[i], bare_at[i]));
  }
  done = true;
  // Wakes the bare client if it still waits.
  while (bare_seen.load() < PRESSES) {
    XTestFakeKeyEvent(injector, KEYCODE, True, CurrentTime);
    XTestFakeKeyEvent(injector, KEYCODE, False, CurrentTime);
    XSync(injector, False);
  }
  bare_thread.join();
  kmx_thread.join();
  XCloseDisplay(injector);
  XCloseDisplay(bare);
  return out;
}

// 40 accelerators and the keycodes and modifiers of their grabs.
struct Shortcuts {
  std::vector<std::string> texts;
  std::vector<unsigned> keycodes;
};

Shortcuts forty_shortcuts(Display* d) {
  Shortcuts s;
  const char* keys[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I",  "J",  "K",  "L", "M", "N",
                        "O", "P", "Q", "R", "S", "T", "U", "V", "W",  "X",  "Y",  "Z", "1", "2",
                        "3", "4", "5", "6", "7", "8", "9", "0", "F1", "F2", "F3", "F4"};
  for (const char* k : keys) {
    s.texts.push_back(std::string("Ctrl+Alt+Shift+") + k);
    const std::string name = std::string(k).size() == 1 && k[0] >= 'A' && k[0] <= 'Z'
                                 ? std::string(1, static_cast<char>(k[0] - 'A' + 'a'))
                                 : std::string(k);
    s.keycodes.push_back(XKeysymToKeycode(d, XStringToKeysym(name.c_str())));
  }
  return s;
}

// Lock bits as the library grabs them: Caps Lock and the modifiers of Num
// Lock and Scroll Lock.
std::vector<unsigned> lock_variants(Display* d) {
  unsigned locks = LockMask;
  XModifierKeymap* map = XGetModifierMapping(d);
  const KeyCode num = XKeysymToKeycode(d, XK_Num_Lock), scroll = XKeysymToKeycode(d, XK_Scroll_Lock);
  constexpr unsigned WORDS = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
  for (int mod = 0; mod < 8; ++mod)
    for (int k = 0; k < map->max_keypermod; ++k) {
      const KeyCode c = map->modifiermap[mod * map->max_keypermod + k];
      if (c != 0 && (c == num || c == scroll) && !(WORDS & (1u << mod))) locks |= 1u << mod;
    }
  XFreeModifiermap(map);
  std::vector<unsigned> out;
  unsigned subset = 0;
  do {
    out.push_back(subset);
    subset = (subset - locks) & locks;
  } while (subset != 0);
  return out;
}

struct ApplyFigures {
  std::vector<double> kmx_apply, kmx_release, bare_grab, bare_ungrab, both_grab, both_ungrab;
};

int master_keyboard(Display* d) {
  int count = 0, id = 0;
  XIDeviceInfo* devices = XIQueryDevice(d, XIAllMasterDevices, &count);
  for (int i = 0; i < count && id == 0; ++i)
    if (devices[i].use == XIMasterKeyboard) id = devices[i].deviceid;
  XIFreeDeviceInfo(devices);
  return id;
}

ApplyFigures measure_apply(KmxHandle h) {
  Display* d = open_retrying();
  const Shortcuts s = forty_shortcuts(d);
  const std::vector<unsigned> variants = lock_variants(d);
  std::vector<KmxShortcut> records;
  for (size_t i = 0; i < s.texts.size(); ++i) records.push_back({i + 1, s.texts[i].c_str(), ""});
  const unsigned modifiers = ControlMask | Mod1Mask | ShiftMask;
  const Window root = DefaultRootWindow(d);

  const int keyboard = master_keyboard(d);
  xcb_connection_t* c = XGetXCBConnection(d);
  const uint32_t xi_mask = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE;
  std::vector<uint32_t> xi_mods;
  for (unsigned v : variants) xi_mods.push_back(modifiers | v);

  ApplyFigures f;
  for (int round = 0; round < APPLY_ROUNDS; ++round) {
    auto t0 = Clock::now();
    const KmxStatus applied = kmx_apply_hotkeys(h, records.data(), records.size());
    auto t1 = Clock::now();
    const KmxStatus released = kmx_apply_hotkeys(h, nullptr, 0);
    auto t2 = Clock::now();
    if (applied != KMX_OK || released != KMX_OK) {
      std::fprintf(stderr, "kmx_apply_hotkeys failed in round %d\n", round);
      break;
    }
    f.kmx_apply.push_back(us_since(t0, t1));
    f.kmx_release.push_back(us_since(t1, t2));

    t0 = Clock::now();
    for (unsigned code : s.keycodes)
      for (unsigned v : variants) XGrabKey(d, code, modifiers | v, root, False, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    t1 = Clock::now();
    for (unsigned code : s.keycodes)
      for (unsigned v : variants) XUngrabKey(d, code, modifiers | v, root);
    XSync(d, False);
    t2 = Clock::now();
    f.bare_grab.push_back(us_since(t0, t1));
    f.bare_ungrab.push_back(us_since(t1, t2));

    // The grabs the library takes: the core ones and, beside them, one
    // XInput 2 grab per key with every lock variant, as a desktop shell's.
    // XIGrabKeycode waits for its reply, so these go through XCB, whose
    // replies are collected after all are sent: one round trip in all.
    t0 = Clock::now();
    std::vector<xcb_input_xi_passive_grab_device_cookie_t> cookies;
    for (unsigned code : s.keycodes) {
      for (unsigned v : variants) XGrabKey(d, code, modifiers | v, root, False, GrabModeAsync, GrabModeAsync);
      XFlush(d);
      cookies.push_back(xcb_input_xi_passive_grab_device(
          c, XCB_CURRENT_TIME, root, XCB_NONE, code, static_cast<xcb_input_device_id_t>(keyboard),
          static_cast<uint16_t>(xi_mods.size()), 1, XCB_INPUT_GRAB_TYPE_KEYCODE, XCB_INPUT_GRAB_MODE_22_ASYNC,
          XCB_INPUT_GRAB_MODE_22_ASYNC, XCB_INPUT_GRAB_OWNER_NO_OWNER, &xi_mask, xi_mods.data()));
    }
    for (auto cookie : cookies) std::free(xcb_input_xi_passive_grab_device_reply(c, cookie, nullptr));
    XSync(d, False);
    t1 = Clock::now();
    for (unsigned code : s.keycodes) {
      for (unsigned v : variants) XUngrabKey(d, code, modifiers | v, root);
      XFlush(d);
      xcb_input_xi_passive_ungrab_device(c, root, code, static_cast<xcb_input_device_id_t>(keyboard),
                                         static_cast<uint16_t>(xi_mods.size()), XCB_INPUT_GRAB_TYPE_KEYCODE,
                                         xi_mods.data());
    }
    XSync(d, False);
    t2 = Clock::now();
    f.both_grab.push_back(us_since(t0, t1));
    f.both_ungrab.push_back(us_since(t1, t2));
  }
  XCloseDisplay(d);
  return f;
}

void print(const char* name, double value, const char* unit) { std::printf("%s: %.1f %s\n", name, value, unit); }

}  // namespace

int main() {
  XInitThreads();
  KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle h = nullptr;
  if (kmx_create(&options, &h) != KMX_OK) {
    char text[512] = {};
    kmx_last_init_error(text, sizeof text);
    std::fprintf(stderr, "kmx_create failed: %s\n", text);
    return 1;
  }
  const Latency lat = measure_latency(h);
  if (kmx_set_raw_mask(h, 0) != KMX_OK) return 1;
  const ApplyFigures ap = measure_apply(h);
  kmx_stop(h);
  kmx_destroy(h);
  if (lat.kmx.empty() || ap.kmx_apply.empty()) return 1;

  const double kmx50 = percentile(lat.kmx, 0.5), kmx99 = percentile(lat.kmx, 0.99);
  const double bare50 = percentile(lat.bare, 0.5), bare99 = percentile(lat.bare, 0.99);
  print("key_latency_kmx_p50", kmx50, "us");
  print("key_latency_kmx_p99", kmx99, "us");
  print("key_latency_bare_xi2_p50", bare50, "us");
  print("key_latency_bare_xi2_p99", bare99, "us");
  const double apply = percentile(ap.kmx_apply, 0.5), release = percentile(ap.kmx_release, 0.5);
  const double grab = percentile(ap.bare_grab, 0.5), ungrab = percentile(ap.bare_ungrab, 0.5);
  print("apply_40_kmx_median", apply, "us");
  print("release_40_kmx_median", release, "us");
  print("grab_40_bare_median", grab, "us");
  print("ungrab_40_bare_median", ungrab, "us");
  const double both = percentile(ap.both_grab, 0.5), unboth = percentile(ap.both_ungrab, 0.5);
  print("grab_40_bare_core_and_xi2_median", both, "us");
  print("ungrab_40_bare_core_and_xi2_median", unboth, "us");
  std::printf("ratio_key_latency_p50: %.2f x\n", kmx50 / bare50);
  std::printf("ratio_key_latency_p99: %.2f x\n", kmx99 / bare99);
  std::printf("ratio_apply_40: %.2f x\n", apply / grab);
  std::printf("ratio_release_40: %.2f x\n", release / ungrab);
  std::printf("ratio_apply_40_same_grabs: %.2f x\n", apply / both);
  std::printf("ratio_release_40_same_grabs: %.2f x\n", release / unboth);
  return 0;
}
