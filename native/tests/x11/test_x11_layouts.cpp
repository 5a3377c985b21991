// Hot keys, chords and key state are key positions on every keyboard
// layout, through the C interface on a private Xvfb server whose keymap the
// suite changes with setxkbmap (the server is this suite's alone).
#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// X keycodes of key positions on an evdev server (Linux code + 8).
constexpr unsigned POS_Z = 52, POS_Y = 29, POS_W = 25, POS_Q = 24, POS_F7 = 73, POS_F13 = 191, POS_LEFT_CONTROL = 37,
                   POS_LEFT_ALT = 64, POS_RIGHT_ALT = 108, POS_NUM_LOCK = 77, POS_UP = 111;
constexpr uint32_t KEY_Q = 0x14, KEY_F13 = 0x68, RIGHT_ALT = 0xE6;

std::string last_error(KmxHandle h) {
  char buffer[512] = {};
  kmx_last_error(h, buffer, sizeof buffer);
  return buffer;
}

Display* open_retrying() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display* d = XOpenDisplay(nullptr)) return d;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return nullptr;
}

// setxkbmap with the given arguments; true when it succeeded.
bool setxkbmap(const std::string& args) { return std::system(("setxkbmap " + args).c_str()) == 0; }

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    other = open_retrying();
    ASSERT_NE(other, nullptr) << "no X display; run under with_xvfb.sh";
    ASSERT_TRUE(setxkbmap("-keycodes evdev -layout us")) << "setxkbmap failed (Debian package x11-xkb-utils)";
  }
  void TearDown() override {
    if (h) {
      kmx_stop(h);
      kmx_destroy(h);
    }
    if (other) XCloseDisplay(other);
    setxkbmap("-keycodes evdev -layout us");
  }

  void create(uint32_t mask) {
    mask_ = mask;
    KmxCreateOptions options{KMX_ABI_VERSION, mask};
    ASSERT_EQ(kmx_create(&options, &h), KMX_OK);
  }

  // A round trip through the library's worker, which handles the keyboard
  // notices that reached it before the command.
  void settle() { ASSERT_EQ(kmx_set_raw_mask(h, mask_), KMX_OK) << last_error(h); }

  // Switches the layout (and locks a group, for multi-group layouts).
  void switch_to(const std::string& layout, int group = 0) {
    ASSERT_TRUE(setxkbmap("-layout " + layout)) << layout;
    XkbLockGroup(other, XkbUseCoreKbd, group);
    XSync(other, False);
    XkbStateRec state{};
    XkbGetState(other, XkbUseCoreKbd, &state);
    ASSERT_EQ(state.group, group) << layout;
    settle();
  }

  void key(unsigned keycode, bool down) {
    XTestFakeKeyEvent(other, keycode, down, CurrentTime);
    XSync(other, False);
  }
  void tap(unsigned keycode) {
    key(keycode, true);
    key(keycode, false);
  }
  void with_held(unsigned modifier, unsigned keycode) {
    key(modifier, true);
    tap(keycode);
    key(modifier, false);
  }

  std::vector<KmxEvent> drain(uint32_t kind) {
    std::vector<KmxEvent> out;
    KmxEvent e{};
    while (kmx_poll_event(h, &e, 200) == KMX_OK)
      if (e.kind == kind) out.push_back(e);
    return out;
  }

  // Exactly one press and one release of the hot key `id`.
  static void expect_one_hotkey(const std::vector<KmxEvent>& hot, uint64_t id, const std::string& where) {
    ASSERT_EQ(hot.size(), 2u) << where;
    EXPECT_EQ(hot[0].shortcut_id, id) << where;
    EXPECT_EQ(hot[0].down, 1) << where;
    EXPECT_EQ(hot[1].shortcut_id, id) << where;
    EXPECT_EQ(hot[1].down, 0) << where;
  }

  KmxStatus apply(std::vector<KmxShortcut> shortcuts) {
    return kmx_apply_hotkeys(h, shortcuts.data(), shortcuts.size());
  }

  Display* other = nullptr;
  KmxHandle h = nullptr;
  uint32_t mask_ = 0;
};

struct Layout {
  const char* name;
  int group;
};
constexpr Layout LAYOUTS[] = {{"us", 0}, {"de", 0}, {"fr", 0}, {"ru", 0}, {"us,ru", 1}};

TEST_F(LayoutTest, CtrlKeyZIsTheSamePhysicalKeyWhicheverLayoutWasActiveAtApplyTime) {
  create(0);
  for (const Layout& at_apply : LAYOUTS) {
    switch_to(at_apply.name, at_apply.group);
    ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
    KmxShortcut z{26, "Ctrl+KeyZ", ""};
    ASSERT_EQ(apply({z}), KMX_OK) << at_apply.name << ": " << last_error(h);
    for (const Layout& now : LAYOUTS) {
      switch_to(now.name, now.group);
      const std::string where = std::string("applied on ") + at_apply.name + ", pressed on " + now.name;
      // The keys carrying "z" on de (Y position) and on fr (W position) are
      // not the hot key; only the Z position is.
      with_held(POS_LEFT_CONTROL, POS_Y);
      with_held(POS_LEFT_CONTROL, POS_W);
      with_held(POS_LEFT_CONTROL, POS_Z);
      expect_one_hotkey(drain(KMX_EVENT_HOTKEY), 26, where);
    }
  }
}

TEST_F(LayoutTest, F13RegistersFiresAndIsChordedAlthoughTheLayoutGivesItNoKeysym) {
  ASSERT_EQ(XKeysymToKeycode(other, XK_F13), 0) << "the premise: no F13 keysym on this layout";
  create(KMX_RAW_KEYS);
  KmxShortcut f13{13, "F13", ""};
  ASSERT_EQ(apply({f13}), KMX_OK) << last_error(h);
  tap(POS_F13);
  expect_one_hotkey(drain(KMX_EVENT_HOTKEY), 13, "tapped");

  ASSERT_EQ(kmx_apply_hotkeys(h, nullptr, 0), KMX_OK);
  ASSERT_EQ(kmx_send_chord(h, nullptr, 0, KEY_F13), KMX_OK) << last_error(h);
  const auto keys = drain(KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].native_code, POS_F13);
  EXPECT_EQ(keys[0].down, 1);
  EXPECT_EQ(keys[1].native_code, POS_F13);
}

// A window of the other client that has the focus and reads the text its
// key presses type.
class FocusedWindow {
 public:
  explicit FocusedWindow(Display* d) : d_(d) {
    w_ = XCreateSimpleWindow(d_, DefaultRootWindow(d_), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(d_, w_, KeyPressMask | StructureNotifyMask);
    XMapWindow(d_, w_);
    XEvent e;
    do XNextEvent(d_, &e);
    while (e.type != MapNotify);
    XSetInputFocus(d_, w_, RevertToParent, CurrentTime);
    XSync(d_, False);
  }
  ~FocusedWindow() { XDestroyWindow(d_, w_); }

  // The text of every key press that has arrived.
  std::string typed() {
    XSync(d_, False);
    std::string out;
    while (XPending(d_) > 0) {
      XEvent e;
      XNextEvent(d_, &e);
      if (e.type != KeyPress) continue;
      char buffer[16] = {};
      const int n = XLookupString(&e.xkey, buffer, sizeof buffer, nullptr, nullptr);
      out.append(buffer, n > 0 ? n : 0);
    }
    return out;
  }

 private:
  Display* d_;
  Window w_;
};

TEST_F(LayoutTest, AltRightIsAChordModifierAndAKeyOnGerman) {
  create(KMX_RAW_KEYS);
  switch_to("de");
  ASSERT_EQ(XKeysymToKeycode(other, XK_Alt_R), 0) << "the premise: AltGr carries no Alt_R keysym on de";

  key(POS_RIGHT_ALT, true);
  EXPECT_EQ(kmx_is_key_down(h, RIGHT_ALT), 1) << last_error(h);
  key(POS_RIGHT_ALT, false);
  EXPECT_EQ(kmx_is_key_down(h, RIGHT_ALT), 0) << last_error(h);
  drain(KMX_EVENT_KEY);

  FocusedWindow window(other);
  const uint32_t modifiers[] = {RIGHT_ALT};
  ASSERT_EQ(kmx_send_chord(h, modifiers, 1, KEY_Q), KMX_OK) << last_error(h);
  const auto keys = drain(KMX_EVENT_KEY);
  ASSERT_EQ(keys.size(), 4u);
  const unsigned codes[] = {POS_RIGHT_ALT, POS_Q, POS_Q, POS_RIGHT_ALT};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(keys[i].native_code, codes[i]) << i;
  EXPECT_EQ(window.typed(), "@") << "AltGr+Q types @ on a German layout";
}

TEST_F(LayoutTest, OnNonEvdevKeycodesKeysAreFoundByKeysymAndFollowTheKeyboardBack) {
  create(0);
  ASSERT_TRUE(setxkbmap("-keycodes xfree86 -layout us"));
  settle();
  const unsigned up = XKeysymToKeycode(other, XK_Up);
  ASSERT_NE(up, POS_UP) << "the premise: xfree86 numbers the arrows differently";
  KmxShortcut s{7, "Ctrl+ArrowUp", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  with_held(XKeysymToKeycode(other, XK_Control_L), up);
  expect_one_hotkey(drain(KMX_EVENT_HOTKEY), 7, "xfree86");

  // Back on evdev keycodes the grab moves to the evdev position.
  ASSERT_TRUE(setxkbmap("-keycodes evdev -layout us"));
  settle();
  with_held(POS_LEFT_CONTROL, up);
  EXPECT_TRUE(drain(KMX_EVENT_HOTKEY).empty()) << "the old keycode is no longer grabbed";
  with_held(POS_LEFT_CONTROL, POS_UP);
  expect_one_hotkey(drain(KMX_EVENT_HOTKEY), 7, "evdev");
}

// Moves Num Lock's key to another modifier bit (0 restores the usual Mod2).
void move_num_lock(Display* d, int modifier_index) {
  XModifierKeymap* map = XGetModifierMapping(d);
  const KeyCode num = XKeysymToKeycode(d, XK_Num_Lock);
  map = XDeleteModifiermapEntry(map, num, Mod2MapIndex);
  map = XDeleteModifiermapEntry(map, num, Mod3MapIndex);
  map = XInsertModifiermapEntry(map, num, modifier_index);
  ASSERT_EQ(XSetModifierMapping(d, map), MappingSuccess);
  XFreeModifiermap(map);
  XSync(d, False);
}

TEST_F(LayoutTest, HotkeysFollowNumLockToAnotherModifier) {
  create(0);
  KmxShortcut s{3, "Alt+F7", ""};
  ASSERT_EQ(apply({s}), KMX_OK) << last_error(h);
  move_num_lock(other, Mod3MapIndex);
  settle();
  tap(POS_NUM_LOCK);
  XkbStateRec state{};
  XkbGetState(other, XkbUseCoreKbd, &state);
  ASSERT_TRUE(state.locked_mods & Mod3Mask) << "the premise: Num Lock now locks Mod3";
  with_held(POS_LEFT_ALT, POS_F7);
  // Taken before the mapping is restored: the worker matches a grabbed
  // press against the lock modifiers it knows when it reads the press.
  expect_one_hotkey(drain(KMX_EVENT_HOTKEY), 3, "Num Lock on Mod3");
  tap(POS_NUM_LOCK);
  move_num_lock(other, Mod2MapIndex);
}

struct TableRow {
  const char* name;
  unsigned keysym;
  unsigned evdev;
};
#define KMX_KEY(usage, name, win, mac, x11, evdev) {name, x11, evdev},
#define KMX_MODIFIER(usage, name, win, mac, x11, evdev) {name, x11, evdev},
constexpr TableRow TABLE[] = {
#include "model/keys.inc"
};
#undef KMX_KEY
#undef KMX_MODIFIER

// The evdev column against the server's own US keymap: the key at each
// row's position carries the row's keysym, on its first or shifted level.
// F13 to F24 are the exception: evdev keymaps give them XF86 launch keysyms.
TEST_F(LayoutTest, EveryTablePositionCarriesItsKeysymOnUs) {
  std::vector<std::string> differing;
  for (const TableRow& row : TABLE) {
    const KeyCode code = static_cast<KeyCode>(row.evdev + 8);
    if (XkbKeycodeToKeysym(other, code, 0, 0) != row.keysym && XkbKeycodeToKeysym(other, code, 0, 1) != row.keysym)
      differing.push_back(row.name);
  }
  const std::vector<std::string> expected = {"F13", "F14", "F15", "F16", "F17", "F18",
                                             "F19", "F20", "F21", "F22", "F23", "F24"};
  EXPECT_EQ(differing, expected);
  EXPECT_EQ(std::size(TABLE), 115u);
}

}  // namespace
