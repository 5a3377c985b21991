// The X11 backend end to end through the C interface, on the Xvfb server
// the test harness started (DISPLAY). A second connection of the test's
// own plays the other client: it injects with XTest and takes grabs.
#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include "press_release_check.h"
#include "resident_memory.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using kmx::testing::allowed_growth;
using kmx::testing::held_memory_bytes;

constexpr uint32_t KEY_A = 0x04, KEY_C = 0x06, KEY_J = 0x0D, KEY_K = 0x0E, KEY_F3 = 0x3C, LEFT_CONTROL = 0xE0,
                   LEFT_SHIFT = 0xE1;

std::string last_error(KmxHandle h) {
  char buffer[512] = {};
  kmx_last_error(h, buffer, sizeof buffer);
  return buffer;
}

std::string last_init_error() {
  char buffer[512] = {};
  kmx_last_init_error(buffer, sizeof buffer);
  return buffer;
}

int TRAPPED_ERROR = 0;
int record_error(Display*, XErrorEvent* e) {
  TRAPPED_ERROR = e->error_code;
  return 0;
}

// The other client.
class OtherClient {
 public:
  OtherClient() : d_(XOpenDisplay(nullptr)) {}
  ~OtherClient() {
    if (d_) XCloseDisplay(d_);
  }
  Display* display() const { return d_; }
  unsigned code(KeySym sym) const { return XKeysymToKeycode(d_, sym); }

  void key(KeySym sym, bool down) {
    XTestFakeKeyEvent(d_, code(sym), down, CurrentTime);
    XSync(d_, False);
  }
  void tap(KeySym sym) {
    key(sym, true);
    key(sym, false);
  }
  void button(unsigned number, bool down) {
    XTestFakeButtonEvent(d_, number, down, CurrentTime);
    XSync(d_, False);
  }
  void move_to(int x, int y) {
    XTestFakeMotionEvent(d_, -1, x, y, CurrentTime);
    XSync(d_, False);
  }
  // True when the grab was taken (no BadAccess).
  bool grab(KeySym sym, unsigned modifiers) {
    return trapped(
        [&] { XGrabKey(d_, code(sym), modifiers, DefaultRootWindow(d_), False, GrabModeAsync, GrabModeAsync); });
  }
  void ungrab(KeySym sym, unsigned modifiers) {
    XUngrabKey(d_, code(sym), modifiers, DefaultRootWindow(d_));
    XSync(d_, False);
  }
  // An XInput 2 passive grab on the master keyboard, as desktop shells take
  // their shortcuts. True when the server granted it.
  bool xi_grab(KeySym sym, unsigned modifiers) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_KeyPress);
    XISetMask(bits, XI_KeyRelease);
    XIEventMask mask{master_keyboard(), sizeof bits, bits};
    XIGrabModifiers mods{static_cast<int>(modifiers), 0};
    const int failed = XIGrabKeycode(d_, master_keyboard(), static_cast<int>(code(sym)), DefaultRootWindow(d_),
                                     XIGrabModeAsync, XIGrabModeAsync, False, &mask, 1, &mods);
    XSync(d_, False);
    return failed == 0;
  }
  void xi_ungrab(KeySym sym, unsigned modifiers) {
    XIGrabModifiers mods{static_cast<int>(modifiers), 0};
    XIUngrabKeycode(d_, master_keyboard(), static_cast<int>(code(sym)), DefaultRootWindow(d_), 1, &mods);
    XSync(d_, False);
  }
  int master_keyboard() {
    int count = 0, id = 0;
    XIDeviceInfo* devices = XIQueryDevice(d_, XIAllMasterDevices, &count);
    for (int i = 0; i < count && id == 0; ++i)
      if (devices[i].use == XIMasterKeyboard) id = devices[i].deviceid;
    XIFreeDeviceInfo(devices);
    return id;
  }

 private:
  template <class F>
  bool trapped(F&& body) {
    XSync(d_, False);
    TRAPPED_ERROR = 0;
    XErrorHandler previous = XSetErrorHandler(record_error);
    body();
    XSync(d_, False);
    XSetErrorHandler(previous);
    return TRAPPED_ERROR == 0;
  }
  Display* d_;
};

// The application the user types into: a mapped window holding the focus,
// on a connection of its own.
class FocusedWindow {
 public:
  explicit FocusedWindow(int screen = 0) : d_(XOpenDisplay(nullptr)) {
    if (!d_) return;
    w_ = XCreateSimpleWindow(d_, RootWindow(d_, screen), 0, 0, 200, 200, 0, 0, 0);
    XSelectInput(d_, w_, KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask);
    XMapWindow(d_, w_);
    XEvent e;
    do XNextEvent(d_, &e);
    while (e.type != MapNotify);
    XSetInputFocus(d_, w_, RevertToParent, CurrentTime);
    XSync(d_, False);
  }
  ~FocusedWindow() {
    if (d_) XCloseDisplay(d_);
  }
  // The key events the window received, as (keycode, down) pairs, once at
  // least `expected` came (the server handles XTest input a little later
  // than the request) or a bounded wait ran out.
  std::vector<std::pair<unsigned, bool>> keys(size_t expected = 0) {
    std::vector<std::pair<unsigned, bool>> out;
    for (int round = 0; round < 200; ++round) {
      XSync(d_, False);
      while (XPending(d_) > 0) {
        XEvent e;
        XNextEvent(d_, &e);
        if (e.type == KeyPress || e.type == KeyRelease) out.emplace_back(e.xkey.keycode, e.type == KeyPress);
      }
      if (out.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return out;
  }
  // How often the window lost the focus to a keyboard grab (FocusOut with
  // NotifyGrab) among the events that came so far.
  int focus_lost_to_grabs() {
    int count = 0;
    XSync(d_, False);
    while (XPending(d_) > 0) {
      XEvent e;
      XNextEvent(d_, &e);
      if (e.type == FocusOut && e.xfocus.mode == NotifyGrab) ++count;
    }
    return count;
  }

 private:
  Display* d_;
  Window w_ = 0;
};

// Every hot-key event per id, in order.
std::map<uint64_t, std::vector<uint8_t>> hotkeys_by_id(const std::vector<KmxEvent>& events) {
  std::map<uint64_t, std::vector<uint8_t>> out;
  for (const KmxEvent& e : events)
    if (e.kind == KMX_EVENT_HOTKEY) out[e.shortcut_id].push_back(e.down);
  return out;
}

class X11EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(other.display(), nullptr) << "no X display; run under with_xvfb.sh"; }
  void TearDown() override {
    if (h) {
      kmx_stop(h);
      kmx_destroy(h);
    }
  }

  void create(uint32_t mask) {
    KmxCreateOptions options{KMX_ABI_VERSION, mask};
    ASSERT_EQ(kmx_create(&options, &h), KMX_OK) << last_init_error();
  }

  // Every event that arrives until none has come for `quiet`.
  std::vector<KmxEvent> drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
    std::vector<KmxEvent> out;
    KmxEvent e{};
    while (kmx_poll_event(h, &e, static_cast<uint32_t>(quiet.count())) == KMX_OK) out.push_back(e);
    return out;
  }

  // The next event; generous bound so a broken build fails instead of hanging.
  KmxEvent next_event() {
    KmxEvent e{};
    EXPECT_EQ(kmx_poll_event(h, &e, 10000), KMX_OK);
    return e;
  }

  static std::vector<KmxEvent> of_kind(const std::vector<KmxEvent>& events, uint32_t kind) {
    std::vector<KmxEvent> out;
    for (const KmxEvent& e : events)
      if (e.kind == kind) out.push_back(e);
    return out;
  }

  KmxStatus apply(std::vector<KmxShortcut> shortcuts) {
    return kmx_apply_hotkeys(h, shortcuts.data(), shortcuts.size());
  }

  KmxStatus chord(std::vector<uint32_t> modifiers, uint32_t key) {
    return kmx_send_chord(h, modifiers.data(), modifiers.size(), key);
  }

  OtherClient other;
  KmxHandle h = nullptr;
};

TEST_F(X11EndToEnd, ReportsItsNameAndEveryCapabilityWithXTestAndXInput2) {
  create(0);
  char name[32] = {};
  EXPECT_EQ(kmx_backend(h, name, sizeof name), 4u);
  EXPECT_STREQ(name, "x11");
  EXPECT_EQ(kmx_capabilities(h), 0xEFu);
}

TEST_F(X11EndToEnd, CreationWithoutAReachableDisplayFailsNamingIt) {
  const std::string saved = std::getenv("DISPLAY");
  setenv("DISPLAY", ":4093", 1);
  KmxCreateOptions options{KMX_ABI_VERSION, 0};
  EXPECT_EQ(kmx_create(&options, &h), KMX_ERR_BACKEND);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(last_init_error(), "backend error: cannot open X11 display \":4093\"");
  setenv("DISPLAY", saved.c_str(), 1);
  create(0);  // the failed attempt left the single-runtime slot free
}

TEST_F(X11EndToEnd, InjectedChordIsSeenAsSelfInjectedKeysInOrder) {
  create(KMX_RAW_KEYS);
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_K), KMX_OK) << last_error(h);
  const auto keys = of_kind(drain(), KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 4u);
  const unsigned ctrl = other.code(XK_Control_L), k = other.code(XK_k);
  const unsigned codes[] = {ctrl, k, k, ctrl};
  const uint8_t downs[] = {1, 1, 0, 0};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(keys[i].native_code, codes[i]) << i;
    EXPECT_EQ(keys[i].down, downs[i]) << i;
    EXPECT_EQ(keys[i].flags, KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED) << i;
    EXPECT_EQ(keys[i].modifier, codes[i] == ctrl ? KMX_MOD_CONTROL : KMX_MOD_NONE) << i;
  }
}

TEST_F(X11EndToEnd, KeysInjectedByAnotherClientAreSyntheticButNotOurs) {
  create(KMX_RAW_KEYS);
  other.tap(XK_a);
  other.tap(XK_Shift_R);
  const auto keys = of_kind(drain(), KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 4u);
  for (const KmxEvent& e : keys) EXPECT_EQ(e.flags, KMX_FLAG_SYNTHETIC);
  EXPECT_EQ(keys[0].native_code, other.code(XK_a));
  EXPECT_EQ(keys[0].modifier, KMX_MOD_NONE);
  EXPECT_EQ(keys[2].modifier, KMX_MOD_SHIFT);
}

TEST_F(X11EndToEnd, RawMaskChangesWhatIsReported) {
  create(0);
  ASSERT_EQ(chord({}, KEY_A), KMX_OK);
  EXPECT_TRUE(drain().empty());
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_KEYS), KMX_OK) << last_error(h);
  ASSERT_EQ(chord({}, KEY_A), KMX_OK);
  EXPECT_EQ(of_kind(drain(), KMX_EVENT_KEY).size(), 2u);
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_BUTTONS), KMX_OK);
  ASSERT_EQ(chord({}, KEY_A), KMX_OK);
  EXPECT_TRUE(drain().empty());
}

TEST_F(X11EndToEnd, HotkeyTypedAsAChordGivesPressThenReleaseWithItsId) {
  create(0);
  KmxShortcut s{42, "Ctrl+Shift+K", "test"};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  ASSERT_EQ(chord({LEFT_CONTROL, LEFT_SHIFT}, KEY_K), KMX_OK) << last_error(h);
  const auto events = drain();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_HOTKEY);
  EXPECT_EQ(events[0].shortcut_id, 42u);
  EXPECT_EQ(events[0].down, 1);
  EXPECT_EQ(events[0].flags, 0u);
  EXPECT_EQ(events[1].shortcut_id, 42u);
  EXPECT_EQ(events[1].down, 0);
}

TEST_F(X11EndToEnd, HotkeyAndRawKeysArriveInServerOrder) {
  create(KMX_RAW_KEYS);
  KmxShortcut s{8, "Ctrl+Shift+K", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  ASSERT_EQ(chord({LEFT_CONTROL, LEFT_SHIFT}, KEY_K), KMX_OK) << last_error(h);
  const auto events = drain();
  const unsigned ctrl = other.code(XK_Control_L), shift = other.code(XK_Shift_L), k = other.code(XK_k);
  struct Expected {
    uint32_t kind;
    unsigned code;
    uint8_t down;
  };
  const Expected expected[] = {{KMX_EVENT_KEY, ctrl, 1},  {KMX_EVENT_KEY, shift, 1}, {KMX_EVENT_KEY, k, 1},
                               {KMX_EVENT_HOTKEY, 0, 1},  {KMX_EVENT_KEY, k, 0},     {KMX_EVENT_HOTKEY, 0, 0},
                               {KMX_EVENT_KEY, shift, 0}, {KMX_EVENT_KEY, ctrl, 0}};
  ASSERT_EQ(events.size(), std::size(expected));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].kind, expected[i].kind) << i;
    EXPECT_EQ(events[i].down, expected[i].down) << i;
    if (expected[i].kind == KMX_EVENT_KEY) {
      EXPECT_EQ(events[i].native_code, expected[i].code) << i;
    } else {
      EXPECT_EQ(events[i].shortcut_id, 8u) << i;
    }
    if (i > 0) {
      EXPECT_GE(events[i].timestamp_us, events[i - 1].timestamp_us) << i;
    }
  }
}

TEST_F(X11EndToEnd, ChordsAndTypingReachTheFocusedWindowWhileAHotkeyIsHeld) {
  FocusedWindow window;
  create(0);
  KmxShortcut s{4, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.key(XK_F3, true);
  const KmxEvent press = next_event();
  ASSERT_EQ(press.kind, KMX_EVENT_HOTKEY);
  ASSERT_EQ(press.down, 1);
  window.keys();

  // The host answers the press with a chord, and the user types on.
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_C), KMX_OK) << last_error(h);
  other.tap(XK_a);
  const unsigned c = other.code(XK_c), a = other.code(XK_a);
  const std::vector<std::pair<unsigned, bool>> typed = {{c, true}, {c, false}, {a, true}, {a, false}};
  EXPECT_EQ(window.keys(typed.size()), typed);

  other.key(XK_F3, false);
  other.key(XK_Control_L, false);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 1u) << "exactly one release";
  EXPECT_EQ(hot[0].shortcut_id, 4u);
  EXPECT_EQ(hot[0].down, 0);
}

TEST_F(X11EndToEnd, QuickRepressKeepsTheHotkeyHeldAlsoWhenTheWorkerReadsLate) {
  create(0);
  KmxShortcut s{6, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  for (bool late : {false, true}) {
    SCOPED_TRACE(late ? "worker reading after the burst" : "burst");
    // With the server grabbed, the worker gets the whole burst at once.
    if (late) XGrabServer(other.display());
    other.key(XK_Control_L, true);
    other.key(XK_F3, true);
    other.key(XK_F3, false);
    other.key(XK_F3, true);
    if (late) {
      XUngrabServer(other.display());
      XSync(other.display(), False);
    }
    EXPECT_EQ(hotkeys_by_id(drain())[6], (std::vector<uint8_t>{1, 0, 1}));
    EXPECT_EQ(kmx_is_key_down(h, KEY_F3), 1);
    other.key(XK_F3, false);
    other.key(XK_Control_L, false);
    EXPECT_EQ(hotkeys_by_id(drain())[6], (std::vector<uint8_t>{0}));
  }
}

TEST_F(X11EndToEnd, HotkeyUnregisteredWhileHeldIsReleasedAtOnceAndNeverAgain) {
  create(0);
  KmxShortcut held{5, "Ctrl+F3", ""}, moved{7, "Ctrl+F3", ""};
  ASSERT_EQ(apply({held}), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.key(XK_F3, true);
  ASSERT_EQ(next_event().down, 1);
  // Moving the accelerator to a new id ends the old hold.
  ASSERT_EQ(apply({moved}), KMX_OK) << last_error(h);
  KmxEvent e{};
  ASSERT_EQ(kmx_poll_event(h, &e, 0), KMX_OK) << "the release is queued before the apply returns";
  EXPECT_EQ(e.shortcut_id, 5u);
  EXPECT_EQ(e.down, 0);
  other.key(XK_F3, false);
  other.key(XK_F3, true);
  ASSERT_EQ(next_event().shortcut_id, 7u);
  ASSERT_EQ(apply({}), KMX_OK);
  ASSERT_EQ(kmx_poll_event(h, &e, 0), KMX_OK);
  EXPECT_EQ(e.shortcut_id, 7u);
  EXPECT_EQ(e.down, 0);
  other.key(XK_F3, false);
  other.key(XK_Control_L, false);
  EXPECT_TRUE(drain().empty()) << "no later event for a registration that went away";
}

TEST_F(X11EndToEnd, HotkeyFiresWithCapsLockAndNumLockOn) {
  create(0);
  KmxShortcut s{3, "Alt+F7", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  other.tap(XK_Caps_Lock);
  other.tap(XK_Num_Lock);
  other.key(XK_Alt_L, true);
  other.tap(XK_F7);
  other.key(XK_Alt_L, false);
  other.tap(XK_Caps_Lock);
  other.tap(XK_Num_Lock);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].shortcut_id, 3u);
  EXPECT_EQ(hot[0].down, 1);
  EXPECT_EQ(hot[1].down, 0);
}

TEST_F(X11EndToEnd, HoldingAHotkeyGivesOnePressAndOneRelease) {
  create(0);
  KmxShortcut s{5, "Ctrl+J", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.key(XK_j, true);
  // Long enough for the server's key repeat to start.
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  other.key(XK_j, false);
  other.key(XK_Control_L, false);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].down, 1);
  EXPECT_EQ(hot[1].down, 0);
}

TEST_F(X11EndToEnd, TwoHotkeysHeldAtOnceEachGetTheirRelease) {
  create(0);
  KmxShortcut j{1, "Ctrl+J", ""}, k{2, "Ctrl+K", ""};
  ASSERT_EQ(apply({j, k}), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.key(XK_j, true);
  other.key(XK_k, true);
  other.key(XK_j, false);
  other.key(XK_Control_L, false);
  other.key(XK_k, false);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 4u);
  EXPECT_EQ(hot[0].shortcut_id, 1u);
  EXPECT_EQ(hot[0].down, 1);
  EXPECT_EQ(hot[1].shortcut_id, 2u);
  EXPECT_EQ(hot[1].down, 1);
  EXPECT_EQ(hot[2].shortcut_id, 1u);
  EXPECT_EQ(hot[2].down, 0);
  EXPECT_EQ(hot[3].shortcut_id, 2u);
  EXPECT_EQ(hot[3].down, 0);
}

TEST_F(X11EndToEnd, GrabHeldByAnotherClientIsRefusedAndTheApplyRollsBack) {
  create(0);
  ASSERT_TRUE(other.grab(XK_g, ControlMask | Mod1Mask));
  KmxShortcut before{9, "Alt+F6", ""};
  ASSERT_EQ(apply({before}), KMX_OK) << last_error(h);

  KmxShortcut fresh{1, "Ctrl+F5", ""}, taken{2, "Ctrl+Alt+G", ""};
  EXPECT_EQ(apply({fresh, taken}), KMX_ERR_BACKEND);
  // The hot-key set wraps the registrar's error, so its prefix shows twice.
  EXPECT_EQ(last_error(h), "backend error: backend error: hotkey already registered");

  // Ctrl+F5 was released again; Alt+F6 is still ours.
  EXPECT_TRUE(other.grab(XK_F5, ControlMask));
  other.ungrab(XK_F5, ControlMask);
  EXPECT_FALSE(other.grab(XK_F6, Mod1Mask));
  other.ungrab(XK_g, ControlMask | Mod1Mask);
  ASSERT_EQ(chord({0xE2}, 0x3F), KMX_OK) << last_error(h);  // Alt+F6
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].shortcut_id, 9u);
}

TEST_F(X11EndToEnd, CombinationHeldByAnXInput2GrabIsRefusedBothWays) {
  create(0);
  KmxShortcut s{1, "Ctrl+F4", ""};
  ASSERT_TRUE(other.xi_grab(XK_F4, ControlMask));
  EXPECT_EQ(apply({s}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: backend error: hotkey already registered");
  EXPECT_TRUE(other.grab(XK_F4, ControlMask)) << "the refused apply left no grab behind";
  other.ungrab(XK_F4, ControlMask);
  other.xi_ungrab(XK_F4, ControlMask);

  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  EXPECT_FALSE(other.xi_grab(XK_F4, ControlMask)) << "ours stands against a later XInput 2 grab";
  EXPECT_FALSE(other.grab(XK_F4, ControlMask)) << "and against a later core grab";
  ASSERT_EQ(apply({}), KMX_OK);
  EXPECT_TRUE(other.xi_grab(XK_F4, ControlMask));
  other.xi_ungrab(XK_F4, ControlMask);
}

// Debian's sxhkd grabs its bindings the classic way (core grabs over XCB).
class Sxhkd {
 public:
  explicit Sxhkd(const std::string& binding) {
    config_ = "/tmp/kmx-sxhkd-" + std::to_string(getpid()) + ".conf";
    std::ofstream(config_) << binding << "\n\ttrue\n";
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 2);
      dup2(fds[1], 1);
      // sxhkd refuses to start without a shell to run commands with, and a
      // CI job may have no SHELL in its environment.
      setenv("SXHKD_SHELL", "/bin/sh", 1);
      execlp("sxhkd", "sxhkd", "-c", config_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Sxhkd() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);  // it may wait in select past a SIGTERM
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    unlink(config_.c_str());
  }
  static bool installed() { return std::system("command -v sxhkd >/dev/null 2>&1") == 0; }
  // Waits (bounded) for a line of its output containing text.
  bool says(const std::string& text) {
    for (int i = 0; i < 100 && seen_.find(text) == std::string::npos; ++i)
      if (!read_some(100)) break;
    return seen_.find(text) != std::string::npos;
  }
  // What it has printed so far, and whether it still runs, for a failure's message.
  std::string account() {
    while (read_some(0)) {
    }
    const bool running = pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
    return std::string(running ? "sxhkd runs" : "sxhkd has ended") + "; it said: \"" + seen_ + "\"";
  }

 private:
  bool read_some(int timeout_ms) {
    pollfd p{out_, POLLIN, 0};
    if (out_ < 0 || poll(&p, 1, timeout_ms) <= 0) return timeout_ms > 0;
    char buffer[256];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  std::string config_;
  std::string seen_;
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST_F(X11EndToEnd, SxhkdBindingsAndOursRefuseEachOther) {
  if (!Sxhkd::installed()) GTEST_SKIP() << "sxhkd is not installed (Debian package sxhkd)";
  create(0);
  {
    Sxhkd sxhkd("ctrl + F8");
    KmxShortcut s{1, "Ctrl+F8", ""};
    // sxhkd grabs the binding once with each lock combination, once only. A
    // probe is let go at once, and probes alternate between two of those
    // combinations: one that sxhkd's grab ran into still leaves the other.
    bool sxhkd_holds = false;
    for (int i = 0; i < 750 && !sxhkd_holds; ++i) {
      const unsigned modifiers = i % 2 ? ControlMask | LockMask : ControlMask;
      if (other.grab(XK_F8, modifiers)) {
        other.ungrab(XK_F8, modifiers);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      } else {
        sxhkd_holds = true;
      }
    }
    ASSERT_TRUE(sxhkd_holds) << "sxhkd did not take its grab; " << sxhkd.account();
    const KmxStatus status = apply({s});
    EXPECT_EQ(status, KMX_ERR_BACKEND);
    EXPECT_EQ(last_error(h), "backend error: backend error: hotkey already registered");
  }
  KmxShortcut ours{2, "Ctrl+F9", ""};
  ASSERT_EQ(apply({ours}), KMX_OK) << last_error(h);
  Sxhkd late("ctrl + F9");
  EXPECT_TRUE(late.says("already grabbed")) << late.account();
}

TEST_F(X11EndToEnd, HostTogglingTheErrorHandlerNeverSeesOurRefusedGrabs) {
  create(0);
  ASSERT_TRUE(other.grab(XK_F2, ControlMask));
  static std::atomic<int> seen{0};
  const XErrorHandler counting = [](Display*, XErrorEvent*) {
    seen.fetch_add(1);
    return 0;
  };
  const XErrorHandler before = XSetErrorHandler(counting);
  std::atomic<bool> done{false};
  // As a toolkit does around its own traps; the default handler exits.
  std::thread host([&] {
    while (!done.load()) {
      XSetErrorHandler(counting);
      XSetErrorHandler(nullptr);
    }
  });
  KmxShortcut s{1, "Ctrl+F2", ""};
  int refused = 0;
  for (int i = 0; i < 3000; ++i)
    if (apply({s}) == KMX_ERR_BACKEND && last_error(h) == "backend error: backend error: hotkey already registered")
      ++refused;
  done.store(true);
  host.join();
  XSetErrorHandler(before);
  EXPECT_EQ(refused, 3000);
  EXPECT_EQ(seen.load(), 0);
  other.ungrab(XK_F2, ControlMask);
}

TEST_F(X11EndToEnd, ApplyChordClearLoopGivesEveryPressItsRelease) {
  const char* env = std::getenv("KMX_X11_SOAK_SECONDS");
  const auto duration = std::chrono::seconds(env ? std::atoi(env) : 3);
  create(0);
  // The server handles XTest input after the request has returned, so a
  // chord may still be pending when the clear is handled: its press then
  // comes to nothing, or to the next registration of the combination. What
  // must hold is that every press has its release and none comes alone.
  // Events are checked as they come, so that the test holds no more memory
  // as it goes than the library should.
  kmx::testing::PressReleaseCheck check;
  uint64_t cycles = 0, cycles_warm = 0;
  size_t memory_warm = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const auto end = start + duration; std::chrono::steady_clock::now() < end;) {
    if (cycles_warm == 0 && std::chrono::steady_clock::now() >= start + duration / 10) {
      cycles_warm = cycles;
      memory_warm = held_memory_bytes();
    }
    KmxShortcut s{++cycles, "Ctrl+Shift+F3", ""};
    ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
    ASSERT_EQ(chord({LEFT_CONTROL, LEFT_SHIFT}, KEY_F3), KMX_OK) << last_error(h);
    ASSERT_EQ(apply({}), KMX_OK) << last_error(h);
    KmxEvent e{};
    while (kmx_poll_event(h, &e, 0) == KMX_OK) check.take(e);
  }
  const size_t memory_end = held_memory_bytes();
  for (const KmxEvent& e : drain()) check.take(e);
  check.expect_all_released();
  EXPECT_GE(check.presses() * 2, cycles) << "most chords fire their hot key";
  ASSERT_NE(cycles_warm, 0u);
  EXPECT_LE(memory_end, memory_warm + allowed_growth(cycles - cycles_warm))
      << "from " << memory_warm << " to " << memory_end << " bytes over " << cycles - cycles_warm << " cycles";
  std::printf("[ soak ] %llu cycles, %zu presses; memory %zu -> %zu bytes\n", static_cast<unsigned long long>(cycles),
              check.presses(), memory_warm, memory_end);
}

TEST_F(X11EndToEnd, AcceleratorsNamingOneGrabAreOneHotkey) {
  create(0);
  KmxShortcut a{1, "Ctrl+K", ""}, b{2, "control + k", ""};
  EXPECT_EQ(apply({a, b}), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(h), "invalid argument: duplicate accelerator control + k");
  KmxShortcut c{2, "CmdOrCtrl+KeyK", ""};
  EXPECT_EQ(apply({a, c}), KMX_ERR_INVALID_ARGUMENT);
}

TEST_F(X11EndToEnd, UnknownKeyNameIsReportedThroughTheApply) {
  create(0);
  KmxShortcut s{1, "Ctrl+Nope", ""};
  EXPECT_EQ(apply({s}), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h), "backend error: invalid argument: Ctrl+Nope: unrecognised key \"Nope\"");
}

TEST_F(X11EndToEnd, MovingAnAcceleratorToANewIdReportsTheNewId) {
  create(0);
  KmxShortcut first{1, "Ctrl+K", ""}, moved{2, "Ctrl+K", ""};
  ASSERT_EQ(apply({first}), KMX_OK);
  ASSERT_EQ(apply({moved}), KMX_OK) << last_error(h);
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_K), KMX_OK);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].shortcut_id, 2u);
}

TEST_F(X11EndToEnd, DragMotionIsReportedOnlyWhileTheLeftButtonIsHeld) {
  create(KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION);
  other.move_to(100, 100);
  other.move_to(110, 120);
  EXPECT_TRUE(drain().empty());

  // Motion reports where the pointer is when the worker reads it, so the
  // pointer rests meanwhile.
  other.button(1, true);
  auto events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(events[0].button, KMX_BUTTON_LEFT);
  EXPECT_EQ(events[0].down, 1);
  EXPECT_EQ(events[0].x, 110.0);
  EXPECT_EQ(events[0].y, 120.0);

  other.move_to(200, 150);
  other.move_to(240, 180);
  events = drain();
  ASSERT_GE(events.size(), 1u);
  for (const KmxEvent& e : events) EXPECT_EQ(e.kind, KMX_EVENT_MOTION);
  const KmxEvent& last = events.back();
  EXPECT_EQ(last.kind, KMX_EVENT_MOTION);
  EXPECT_EQ(last.x, 240.0);
  EXPECT_EQ(last.y, 180.0);

  other.button(1, false);
  other.move_to(300, 300);
  events = drain();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(events[0].down, 0);
}

// Clicks each followed at once by a move, sent in one burst: every button
// event reports where it happened, not where the pointer went next.
TEST_F(X11EndToEnd, ButtonsReportWhereTheyHappenedInAFastBurst) {
  create(KMX_RAW_BUTTONS);
  Display* d = other.display();
  const int spots[3][2] = {{100, 200}, {300, 400}, {500, 600}};
  for (const auto& spot : spots) {
    XTestFakeMotionEvent(d, -1, spot[0], spot[1], CurrentTime);
    XTestFakeButtonEvent(d, 3, True, CurrentTime);
    XTestFakeButtonEvent(d, 3, False, CurrentTime);
    XTestFakeMotionEvent(d, -1, spot[0] + 7, spot[1] + 9, CurrentTime);
  }
  XSync(d, False);
  const auto buttons = of_kind(drain(), KMX_EVENT_BUTTON);
  ASSERT_EQ(buttons.size(), 6u);
  for (size_t i = 0; i < buttons.size(); ++i) {
    EXPECT_EQ(buttons[i].button, KMX_BUTTON_RIGHT) << i;
    EXPECT_EQ(buttons[i].down, i % 2 == 0 ? 1 : 0) << i;
    EXPECT_EQ(buttons[i].x, spots[i / 2][0]) << i;
    EXPECT_EQ(buttons[i].y, spots[i / 2][1]) << i;
  }
}

TEST_F(X11EndToEnd, RightAndMiddleDragsGiveNoMotion) {
  create(KMX_RAW_DRAG_MOTION);
  other.button(3, true);
  other.move_to(50, 60);
  other.button(3, false);
  other.button(2, true);
  other.move_to(70, 80);
  other.button(2, false);
  EXPECT_TRUE(drain().empty());
}

TEST_F(X11EndToEnd, ButtonsAreNumberedPortablyAndTheWheelIsIgnored) {
  create(KMX_RAW_BUTTONS);
  for (unsigned b : {3u, 2u, 4u, 5u, 8u}) {
    other.button(b, true);
    other.button(b, false);
  }
  const auto buttons = of_kind(drain(), KMX_EVENT_BUTTON);
  ASSERT_EQ(buttons.size(), 6u);
  EXPECT_EQ(buttons[0].button, KMX_BUTTON_RIGHT);
  EXPECT_EQ(buttons[2].button, KMX_BUTTON_MIDDLE);
  EXPECT_EQ(buttons[4].button, KMX_BUTTON_OTHER);
  for (const KmxEvent& e : buttons) EXPECT_EQ(e.flags, KMX_FLAG_SYNTHETIC);
}

TEST_F(X11EndToEnd, KeyStateFollowsInjection) {
  create(0);
  EXPECT_EQ(kmx_is_key_down(h, KEY_A), 0);
  other.key(XK_a, true);
  other.key(XK_Shift_L, true);
  EXPECT_EQ(kmx_is_key_down(h, KEY_A), 1);
  const uint32_t usages[] = {KEY_A, KEY_J, LEFT_SHIFT, 0xE5};
  uint8_t results[4] = {9, 9, 9, 9};
  ASSERT_EQ(kmx_is_key_down_many(h, usages, 4, results), KMX_OK) << last_error(h);
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], 0);
  EXPECT_EQ(results[2], 1);
  EXPECT_EQ(results[3], 0);
  other.key(XK_Shift_L, false);
  other.key(XK_a, false);
  EXPECT_EQ(kmx_is_key_down(h, KEY_A), 0);
}

TEST_F(X11EndToEnd, ChordIsRefusedWhileItsMainKeyIsHeld) {
  create(KMX_RAW_KEYS);
  other.key(XK_k, true);
  drain();
  EXPECT_EQ(chord({LEFT_CONTROL}, KEY_K), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h),
            "backend error: main chord key 0xe is physically held; declining to inject rather than risk releasing "
            "a key the user still owns");
  other.key(XK_k, false);
  const auto keys = of_kind(drain(), KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 1u) << "nothing was injected";
  EXPECT_EQ(keys[0].flags, KMX_FLAG_SYNTHETIC);
}

TEST_F(X11EndToEnd, HeldModifierIsNeitherPressedNorReleasedByAChord) {
  create(KMX_RAW_KEYS);
  other.key(XK_Control_L, true);
  drain();
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_J), KMX_OK);
  const auto keys = of_kind(drain(), KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].native_code, other.code(XK_j));
  EXPECT_EQ(kmx_is_key_down(h, LEFT_CONTROL), 1);
  other.key(XK_Control_L, false);
}

TEST_F(X11EndToEnd, StopAndDestroyLeaveNoGrabBehind) {
  create(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
  KmxShortcut a{1, "Ctrl+Shift+L", ""}, b{2, "Super+F9", ""};
  ASSERT_EQ(apply({a, b}), KMX_OK) << last_error(h);
  EXPECT_FALSE(other.grab(XK_l, ControlMask | ShiftMask));
  ASSERT_EQ(kmx_stop(h), KMX_OK);
  EXPECT_EQ(apply({a}), KMX_ERR_CLOSED);
  EXPECT_TRUE(other.grab(XK_l, ControlMask | ShiftMask));
  EXPECT_TRUE(other.grab(XK_l, ControlMask | ShiftMask | LockMask));
  EXPECT_TRUE(other.grab(XK_F9, Mod4Mask | Mod2Mask));
  kmx_destroy(h);
  h = nullptr;
  other.ungrab(XK_l, AnyModifier);
  other.ungrab(XK_F9, AnyModifier);
}

TEST_F(X11EndToEnd, ApplyingTheEmptyListReleasesEveryGrab) {
  create(0);
  KmxShortcut a{1, "Ctrl+Shift+L", ""};
  ASSERT_EQ(apply({a}), KMX_OK);
  ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
  EXPECT_TRUE(other.grab(XK_l, ControlMask | ShiftMask));
  other.ungrab(XK_l, ControlMask | ShiftMask);
}

// Waits at most 3 s for a forked child that reports its failed checks as
// bits of its exit status.
void expect_child_passes(pid_t child) {
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 300 && ended == 0; ++i) {
    ended = waitpid(child, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the child did not end: a call on the inherited runtime waited";
  }
  ASSERT_TRUE(WIFEXITED(status)) << "the child died by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks (bits) in the child";
}

// A host that forks (Python's multiprocessing, fork+exec): the child leaves
// the parent's runtime alone, returns at once from every call on it and can
// start a runtime of its own; the parent's runtime keeps working afterwards.
TEST_F(X11EndToEnd, ForkedChildLeavesTheParentsRuntimeAloneAndRunsItsOwn) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
  create(KMX_RAW_KEYS);
  KmxShortcut s{5, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  const pid_t child = fork();
  if (child == 0) {
    int failed = 0;  // one bit per check, as the exit status
    KmxEvent e{};
    if (kmx_poll_event(h, &e, 0) != KMX_ERR_CLOSED) failed |= 1;
    if (kmx_apply_hotkeys(h, &s, 1) != KMX_ERR_CLOSED) failed |= 2;
    KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS};
    KmxHandle mine = nullptr;
    if (kmx_create(&options, &mine) != KMX_OK) {
      failed |= 4;
    } else {
      if (kmx_send_chord(mine, nullptr, 0, KEY_J) != KMX_OK) failed |= 8;
      // The child's own worker sees the child's own chord.
      if (kmx_poll_event(mine, &e, 10000) != KMX_OK || e.kind != KMX_EVENT_KEY ||
          e.flags != (KMX_FLAG_SYNTHETIC | KMX_FLAG_SELF_INJECTED))
        failed |= 16;
      kmx_destroy(mine);
    }
    if (kmx_stop(h) != KMX_OK) failed |= 32;
    kmx_destroy(h);
    _exit(failed);
  }
  ASSERT_GT(child, 0);
  // A child that waits for the worker it does not have takes the 5 s stop
  // time-out or for ever; one that returns at once ends well within 3 s.
  expect_child_passes(child);

  // The child's exit left the parent's connections as they were.
  drain();
  EXPECT_EQ(kmx_is_key_down(h, KEY_J), 0) << last_error(h);
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_F3), KMX_OK) << last_error(h);
  const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].shortcut_id, 5u);
  EXPECT_EQ(hot[0].down, 1);
  EXPECT_EQ(hot[1].down, 0);
}

// A fork while one parent thread polls and another waits in kmx_destroy for
// it: the child's calls on the inherited runtime must not wait for a gate
// no thread of the child will ever open.
TEST_F(X11EndToEnd, ForkedChildReturnsAtOnceThoughAParentThreadWasDestroyingTheRuntime) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot follow threads started in the child of a threaded process";
#endif
  create(0);
  std::thread poller([this] {
    KmxEvent e{};
    kmx_poll_event(h, &e, 1500);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::thread destroyer([this] { kmx_destroy(h); });
  // Let the destroyer reach the gate, where it waits for the poller.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const pid_t child = fork();
  if (child == 0) {
    int failed = 0;
    KmxEvent e{};
    if (kmx_poll_event(h, &e, 0) != KMX_ERR_CLOSED) failed |= 1;
    if (kmx_set_raw_mask(h, KMX_RAW_KEYS) != KMX_ERR_CLOSED) failed |= 2;
    if (kmx_is_key_down(h, KEY_J) != -static_cast<int32_t>(KMX_ERR_CLOSED)) failed |= 4;
    char text[64];
    if (kmx_backend(h, text, sizeof text) == 0) failed |= 8;
    kmx_last_error(h, text, sizeof text);
    if (std::string(text) != "runtime is closed") failed |= 32;
    if (kmx_stop(h) != KMX_OK) failed |= 16;
    kmx_destroy(h);
    _exit(failed);
  }
  poller.join();
  destroyer.join();
  h = nullptr;
  ASSERT_GT(child, 0);
  expect_child_passes(child);
}

// The record of the library's own injections is used up whatever the mask,
// so another client's keys are never taken for ours afterwards.
TEST_F(X11EndToEnd, ChordSentWithRawKeysOffLeavesNoRecordForAnotherClientsKeys) {
  FocusedWindow window;
  create(0);
  constexpr uint32_t KEY_V = 0x19;
  ASSERT_EQ(chord({LEFT_CONTROL}, KEY_V), KMX_OK) << last_error(h);
  ASSERT_EQ(window.keys(4).size(), 4u);  // the server has handled the chord
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_KEYS), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.key(XK_v, true);
  other.key(XK_v, false);
  other.key(XK_Control_L, false);
  const auto keys = of_kind(drain(), KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 4u);
  for (const KmxEvent& e : keys) EXPECT_EQ(e.flags, KMX_FLAG_SYNTHETIC) << e.native_code;
}

// The left button's state is followed whatever the mask, so drag motion
// starts and ends with the button also across mask changes.
TEST_F(X11EndToEnd, DragStateFollowsTheButtonWhileMotionIsOff) {
  create(KMX_RAW_DRAG_MOTION);
  other.button(1, true);
  drain();
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_KEYS), KMX_OK);
  other.button(1, false);
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_DRAG_MOTION), KMX_OK);
  other.move_to(30, 40);
  other.move_to(35, 45);
  EXPECT_TRUE(drain().empty()) << "hovering after a release is not a drag";

  ASSERT_EQ(kmx_set_raw_mask(h, 0), KMX_OK);
  other.button(1, true);
  ASSERT_EQ(kmx_set_raw_mask(h, KMX_RAW_DRAG_MOTION), KMX_OK);
  other.move_to(60, 70);
  auto events = drain();
  other.button(1, false);
  ASSERT_FALSE(events.empty()) << "a drag begun while motion was off";
  EXPECT_EQ(events.back().kind, KMX_EVENT_MOTION);
  EXPECT_EQ(events.back().x, 60.0);
  EXPECT_EQ(events.back().y, 70.0);
}

// A left-handed pointer map (xmodmap -e "pointer = 3 2 1"): the library
// reports the button applications see, and drags with the logical left.
TEST_F(X11EndToEnd, ButtonsFollowThePointerMapping) {
  create(KMX_RAW_BUTTONS | KMX_RAW_DRAG_MOTION);
  unsigned char map[256] = {};
  const int count = XGetPointerMapping(other.display(), map, sizeof map);
  ASSERT_GE(count, 3);
  std::vector<unsigned char> swapped(map, map + count);
  std::swap(swapped[0], swapped[2]);
  ASSERT_EQ(XSetPointerMapping(other.display(), swapped.data(), count), MappingSuccess);
  XSync(other.display(), False);
  struct Restore {
    Display* d;
    unsigned char* map;
    int count;
    ~Restore() {
      XSetPointerMapping(d, map, count);
      XSync(d, False);
    }
  } restore{other.display(), map, count};

  // In one burst, so that positions come from the events themselves, which
  // name the physical button.
  XTestFakeMotionEvent(other.display(), -1, 15, 25, CurrentTime);
  XTestFakeButtonEvent(other.display(), 1, True, CurrentTime);
  XTestFakeMotionEvent(other.display(), -1, 20, 20, CurrentTime);
  XTestFakeButtonEvent(other.display(), 1, False, CurrentTime);
  XTestFakeMotionEvent(other.display(), -1, 30, 30, CurrentTime);
  XSync(other.display(), False);
  auto events = drain();
  ASSERT_EQ(events.size(), 2u) << "a right drag gives no motion";
  EXPECT_EQ(events[0].kind, KMX_EVENT_BUTTON);
  EXPECT_EQ(events[0].button, KMX_BUTTON_RIGHT);
  EXPECT_EQ(events[0].x, 15.0);
  EXPECT_EQ(events[0].y, 25.0);
  EXPECT_EQ(events[1].x, 20.0);
  EXPECT_EQ(events[1].y, 20.0);

  other.button(3, true);
  other.move_to(40, 50);
  other.button(3, false);
  events = drain();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].button, KMX_BUTTON_LEFT);
  EXPECT_EQ(events[1].kind, KMX_EVENT_MOTION);
  EXPECT_EQ(events[2].button, KMX_BUTTON_LEFT);
  EXPECT_EQ(events[2].down, 0);
}

// An AccessX control (Slow Keys, Bounce Keys, Sticky Keys) switched on for
// the keyboard while it lives, as a user's accessibility settings do.
class AccessX {
 public:
  AccessX(Display* d, unsigned control) : d_(d), control_(control) {
    XkbDescPtr xkb = XkbGetMap(d_, 0, XkbUseCoreKbd);
    XkbGetControls(d_, XkbAllControlsMask, xkb);
    xkb->ctrls->slow_keys_delay = 150;
    xkb->ctrls->debounce_delay = 150;
    xkb->ctrls->enabled_ctrls |= control;
    XkbSetControls(d_, XkbSlowKeysMask | XkbBounceKeysMask | XkbControlsEnabledMask, xkb);
    XkbFreeKeyboard(xkb, 0, True);
    XSync(d_, False);
  }
  ~AccessX() {
    XkbChangeEnabledControls(d_, XkbUseCoreKbd, control_, 0);
    XSync(d_, False);
  }

 private:
  Display* d_;
  unsigned control_;
};

// True once the server reports the key down (Slow Keys accepts it late).
bool wait_until_down(Display* d, unsigned keycode) {
  for (int i = 0; i < 500; ++i) {
    char keys[32] = {};
    XQueryKeymap(d, keys);
    if ((static_cast<unsigned char>(keys[keycode / 8]) >> (keycode % 8)) & 1u) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// With Slow Keys the raw press comes at once and the grab's press only when
// the server accepts the key; the hot key still fires, once, and ends.
TEST_F(X11EndToEnd, HotkeysWorkWithSlowKeysBounceKeysAndStickyKeys) {
  create(0);
  KmxShortcut s{9, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  const auto press_and_release = [&](const char* what) {
    const auto hot = of_kind(drain(), KMX_EVENT_HOTKEY);
    ASSERT_EQ(hot.size(), 2u) << what;
    EXPECT_EQ(hot[0].shortcut_id, 9u) << what;
    EXPECT_EQ(hot[0].down, 1) << what;
    EXPECT_EQ(hot[1].down, 0) << what;
  };
  {
    AccessX slow(other.display(), XkbSlowKeysMask);
    for (int round = 0; round < 3; ++round) {
      other.key(XK_Control_L, true);
      ASSERT_TRUE(wait_until_down(other.display(), other.code(XK_Control_L)));
      other.key(XK_F3, true);
      ASSERT_TRUE(wait_until_down(other.display(), other.code(XK_F3)));
      other.key(XK_F3, false);
      other.key(XK_Control_L, false);
      press_and_release("slow keys");
    }
  }
  {
    AccessX bounce(other.display(), XkbBounceKeysMask);
    other.key(XK_Control_L, true);
    other.tap(XK_F3);
    other.key(XK_Control_L, false);
    press_and_release("bounce keys");
  }
  {
    AccessX sticky(other.display(), XkbStickyKeysMask);
    other.tap(XK_Control_L);  // latches Control for the next key
    other.tap(XK_F3);
    press_and_release("sticky keys");
  }
}

// and buttons, and a button's position is on that screen's root.
TEST_F(X11EndToEnd, HotkeysAndRawInputWorkOnEveryScreen) {
  if (ScreenCount(other.display()) < 2) GTEST_SKIP() << "needs a second screen (CTest x11_screens)";
  FocusedWindow window(1);
  XTestFakeMotionEvent(other.display(), 1, 50, 60, CurrentTime);
  XSync(other.display(), False);
  create(KMX_RAW_KEYS | KMX_RAW_BUTTONS);
  KmxShortcut s{6, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  other.key(XK_Control_L, true);
  other.tap(XK_F3);
  other.key(XK_Control_L, false);
  other.button(1, true);
  other.button(1, false);
  const auto events = drain();
  const auto hot = of_kind(events, KMX_EVENT_HOTKEY);
  ASSERT_EQ(hot.size(), 2u);
  EXPECT_EQ(hot[0].shortcut_id, 6u);
  EXPECT_EQ(of_kind(events, KMX_EVENT_KEY).size(), 4u);
  const auto buttons = of_kind(events, KMX_EVENT_BUTTON);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0].x, 50.0);
  EXPECT_EQ(buttons[0].y, 60.0);
  // The grab took the F3 press from the window; its release still reached it.
  const auto keys = window.keys(3);
  for (const auto& key : keys) EXPECT_FALSE(key.first == other.code(XK_F3) && key.second);
}

bool repeats(Display* d, unsigned keycode) {
  XKeyboardState state{};
  XGetKeyboardControl(d, &state);
  return (static_cast<unsigned char>(state.auto_repeats[keycode / 8]) >> (keycode % 8)) & 1u;
}

// Holding a hot key with auto-repeat on costs the focused window one
// FocusOut/FocusIn pair, not one per repeat; the key repeats again once
// released.
TEST_F(X11EndToEnd, HeldHotkeyTakesTheFocusAwayOncePerPress) {
  FocusedWindow window;
  create(0);
  KmxShortcut s{3, "Ctrl+F3", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  Display* d = other.display();
  const unsigned f3 = other.code(XK_F3);
  ASSERT_TRUE(repeats(d, f3));
  unsigned delay = 0, interval = 0;
  XkbGetAutoRepeatRate(d, XkbUseCoreKbd, &delay, &interval);
  // The worker has the repeat delay to act in: a generous one for busy
  // machines, then a fast rate.
  XkbSetAutoRepeatRate(d, XkbUseCoreKbd, 250, 20);
  window.focus_lost_to_grabs();
  for (int press = 0; press < 2; ++press) {
    other.key(XK_Control_L, true);
    other.key(XK_F3, true);
    EXPECT_EQ(next_event().down, 1);
    // Fifteen repeat intervals after the repeat delay, as a user holds it.
    std::this_thread::sleep_for(std::chrono::milliseconds(550));
    other.key(XK_F3, false);
    other.key(XK_Control_L, false);
    EXPECT_EQ(next_event().down, 0);
    EXPECT_EQ(window.focus_lost_to_grabs(), 1) << "press " << press;
  }
  XkbSetAutoRepeatRate(d, XkbUseCoreKbd, delay, interval);
  XSync(d, False);
  EXPECT_TRUE(repeats(d, f3)) << "F3 repeats again after its release";
}

// Keys typed in the same burst as a hot key (Ctrl, K, A within a
// millisecond) reach the focused window, though the grab that took the K
// was still active when the A came.
TEST_F(X11EndToEnd, KeyTypedInTheSameBurstAsAHotkeyReachesTheFocusedWindow) {
  FocusedWindow window;
  create(KMX_RAW_KEYS);
  KmxShortcut s{8, "Ctrl+K", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  Display* d = other.display();
  const unsigned ctrl = other.code(XK_Control_L), k = other.code(XK_k), a = other.code(XK_a);
  for (int round = 0; round < 5; ++round) {
    for (auto [code, down] : {std::pair{ctrl, true}, {k, true}, {a, true}, {a, false}, {k, false}, {ctrl, false}})
      XTestFakeKeyEvent(d, code, down, CurrentTime);
    XSync(d, False);
    const auto events = drain();
    EXPECT_EQ(of_kind(events, KMX_EVENT_HOTKEY).size(), 2u) << round;
    EXPECT_EQ(of_kind(events, KMX_EVENT_KEY).size(), 6u) << round;
    // Control down and up, the K's release (its press was the hot key's),
    // and the A down and up, in that order.
    const std::vector<std::pair<unsigned, bool>> expected{{ctrl, true}, {a, true}, {a, false}, {k, false}, {ctrl, false}};
    EXPECT_EQ(window.keys(expected.size()), expected) << round;
  }
}

// A chord that types the host's own hot key freezes the keyboard until the
// worker hands it back; the next chord and key-state query must not find
// its keys still down.
TEST_F(X11EndToEnd, BackToBackChordsOfTheHostsOwnHotkeyAreAllTyped) {
  FocusedWindow window;
  create(0);
  KmxShortcut s{8, "Ctrl+K", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  constexpr int chords = 200;
  int refused = 0, left_down = 0;
  for (int i = 0; i < chords; ++i) {
    if (chord({LEFT_CONTROL}, KEY_K) != KMX_OK) ++refused;
    if (kmx_is_key_down(h, KEY_K) != 0 || kmx_is_key_down(h, LEFT_CONTROL) != 0) ++left_down;
  }
  EXPECT_EQ(refused, 0) << last_error(h);
  EXPECT_EQ(left_down, 0);
  EXPECT_EQ(of_kind(drain(), KMX_EVENT_HOTKEY).size(), 2u * chords);
  // The focused window got each Control and K release: the K presses went
  // to the hot key.
  const unsigned ctrl = other.code(XK_Control_L);
  size_t controls = 0;
  for (const auto& key : window.keys(3 * chords))
    if (key.first == ctrl) ++controls;
  EXPECT_EQ(controls, 2u * chords);
}

}  // namespace
