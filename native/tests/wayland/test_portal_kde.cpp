// The portal backend against a real desktop portal: KDE Plasma's, headless.
// Each test starts its own desktop (kde_desktop.h) in a scratch folder and
// drives the library through the C interface; chords go kwin -> kglobalaccel
// (inside kwin) -> the KDE portal -> the library, so the library presses its
// own hot keys end to end. weston-eventdemo is the Wayland client that shows
// which keys reach an application, and `kmx listen` is a second program.
#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kde_desktop.h"

namespace {

// Portable usages.
constexpr uint32_t K = 0x0E, L = 0x0F, J = 0x0D, M = 0x10, DIGIT1 = 0x1E, MINUS = 0x2D, SLASH = 0x38, F9 = 0x42;
constexpr uint32_t CTRL = 0xE0, SHIFT = 0xE1, ALT = 0xE2, SUPER = 0xE3;
// Their evdev codes, as the client and the test's own keyboard see them.
constexpr int EV_CTRL = 29, EV_ALT = 56, EV_L = 38, EV_K = 37, EV_J = 36;

using Hotkey = std::pair<uint64_t, int>;
using kmx_test::KdeDesktop;

std::string last_error(KmxHandle h) {
  char buffer[512] = {};
  kmx_last_error(h, buffer, sizeof buffer);
  return buffer;
}

class Kde : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(desktop_.start()) << desktop_.why();
    char why[256] = {};
    ASSERT_EQ(kmx_create(nullptr, &h_), KMX_OK) << (kmx_last_init_error(why, sizeof why), why);
    char name[64] = {};
    kmx_backend(h_, name, sizeof name);
    ASSERT_STREQ(name, "wayland-portal");
  }
  void TearDown() override {
    if (h_) {
      kmx_stop(h_);
      kmx_destroy(h_);
    }
    if (HasFailure()) desktop_.print_logs();
  }

  KmxStatus apply(std::vector<KmxShortcut> shortcuts) {
    return kmx_apply_hotkeys(h_, shortcuts.data(), shortcuts.size());
  }

  KmxStatus chord(std::vector<uint32_t> modifiers, uint32_t key) {
    return kmx_send_chord(h_, modifiers.data(), modifiers.size(), key);
  }

  Hotkey next_hotkey(uint32_t timeout_ms = 3000) {
    KmxEvent e{};
    const KmxStatus s = kmx_poll_event(h_, &e, timeout_ms);
    if (s != KMX_OK) return {0, -static_cast<int>(s)};
    EXPECT_EQ(e.kind, KMX_EVENT_HOTKEY);
    return {e.shortcut_id, e.down};
  }

  // Nothing comes while the keys above are still on their way: the client's
  // log, written after kwin handled them, says when they have been handled.
  bool quiet(uint32_t ms = 200) {
    KmxEvent e{};
    return kmx_poll_event(h_, &e, ms) == KMX_ERR_TIMEOUT;
  }

  KdeDesktop desktop_;
  KmxHandle h_ = nullptr;
};

TEST_F(Kde, AChordPressesAHotKeyAndAHeldKeyIsReleasedWhenLetGo) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+L", ""}}), KMX_OK) << last_error(h_);  // an empty description
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK) << last_error(h_);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));

  auto keyboard = desktop_.keyboard();
  ASSERT_TRUE(keyboard.ready()) << keyboard.why();
  ASSERT_TRUE(keyboard.press({EV_CTRL, EV_ALT, EV_L}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  EXPECT_TRUE(quiet(300)) << "no release while the key is held";
  ASSERT_TRUE(keyboard.release({EV_L, EV_ALT, EV_CTRL}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));
}

TEST_F(Kde, ReplacingAndClearingGiveTheOldCombinationBackToTheClient) {
  auto client = desktop_.client();
  ASSERT_TRUE(client.focused()) << client.log();

  ASSERT_EQ(apply({{1, "Ctrl+Alt+L", "talk"}}), KMX_OK) << last_error(h_);
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK) << last_error(h_);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));
  ASSERT_EQ(chord({CTRL, ALT}, J), KMX_OK);
  ASSERT_TRUE(client.pressed(EV_J, 1)) << client.log();
  EXPECT_EQ(client.presses(EV_L), 0) << "a bound combination does not reach the client";

  // A new set: the combination it keeps moves to another id and still fires.
  ASSERT_EQ(apply({{2, "Ctrl+Alt+K", "mute"}, {3, "Ctrl+Alt+L", "talk"}}), KMX_OK) << last_error(h_);
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK);
  EXPECT_EQ(next_hotkey(), (Hotkey{3, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{3, 0}));
  ASSERT_EQ(chord({CTRL, ALT}, K), KMX_OK);
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 0}));

  // One combination fewer: it reaches the client again.
  ASSERT_EQ(apply({{2, "Ctrl+Alt+K", "mute"}}), KMX_OK) << last_error(h_);
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK);
  EXPECT_TRUE(client.pressed(EV_L, 1)) << client.log();
  ASSERT_EQ(chord({CTRL, ALT}, K), KMX_OK);
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{2, 0}));

  ASSERT_EQ(apply({}), KMX_OK) << last_error(h_);
  ASSERT_EQ(chord({CTRL, ALT}, K), KMX_OK);
  EXPECT_TRUE(client.pressed(EV_K, 1)) << client.log();
  EXPECT_TRUE(quiet());
}

TEST_F(Kde, LettersFunctionKeysAndShiftedDigitsAndPunctuationFire) {
  ASSERT_EQ(apply({{1, "Ctrl+Shift+K", "letter"},
                   {2, "Super+F9", "function key"},
                   {3, "Ctrl+Shift+1", "shifted digit"},
                   {4, "Ctrl+Shift+-", "shifted minus"},
                   {5, "Ctrl+Shift+/", "shifted slash"}}),
            KMX_OK)
      << last_error(h_);
  const std::vector<std::pair<std::vector<uint32_t>, uint32_t>> chords = {
      {{CTRL, SHIFT}, K}, {{SUPER}, F9}, {{CTRL, SHIFT}, DIGIT1}, {{CTRL, SHIFT}, MINUS}, {{CTRL, SHIFT}, SLASH}};
  for (uint64_t id = 1; id <= chords.size(); ++id) {
    ASSERT_EQ(chord(chords[id - 1].first, chords[id - 1].second), KMX_OK) << last_error(h_);
    EXPECT_EQ(next_hotkey(), (Hotkey{id, 1})) << "shortcut " << id;
    EXPECT_EQ(next_hotkey(), (Hotkey{id, 0})) << "shortcut " << id;
  }
}

TEST_F(Kde, TwoProgramsWithTheSameIdsStayApartAndAProgramsSetsDoNotPileUp) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+L", "ours"}}), KMX_OK) << last_error(h_);
  auto other = desktop_.listen({"1=Ctrl+Alt+K"});  // kmx gives no description
  ASSERT_TRUE(other.listening()) << other.output();
  auto second_copy = desktop_.listen({"1=Ctrl+Alt+M"});  // the same program, running at the same time
  ASSERT_TRUE(second_copy.listening()) << second_copy.output();
  ASSERT_EQ(chord({CTRL, ALT}, K), KMX_OK);
  ASSERT_TRUE(other.has_event(1, true) && other.has_event(1, false)) << other.output();
  ASSERT_EQ(chord({CTRL, ALT}, M), KMX_OK);
  ASSERT_TRUE(second_copy.has_event(1, true) && second_copy.has_event(1, false)) << second_copy.output();
  EXPECT_TRUE(quiet());
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));
  EXPECT_EQ(other.events(), 2) << other.output();
  EXPECT_EQ(second_copy.events(), 2) << second_copy.output();
  other.end();
  second_copy.end();

  // The same program again, its id 1 now on another combination.
  auto again = desktop_.listen({"1=Ctrl+Alt+J"});
  ASSERT_TRUE(again.listening()) << again.output();
  ASSERT_EQ(chord({CTRL, ALT}, J), KMX_OK);
  EXPECT_TRUE(again.has_event(1, true) && again.has_event(1, false)) << again.output();
  again.end();
  // kglobalaccel names a component after the session token: one for this
  // program, one for each copy of kmx that ran at once, however many sets
  // and runs.
  EXPECT_EQ(desktop_.keymux_components(3), 3) << desktop_.shortcut_settings();
}

TEST_F(Kde, TheKdeBackendKilledEndsTheRuntime) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+L", "talk"}}), KMX_OK) << last_error(h_);
  auto keyboard = desktop_.keyboard();
  ASSERT_TRUE(keyboard.ready()) << keyboard.why();
  ASSERT_TRUE(keyboard.press({EV_CTRL, EV_ALT, EV_L}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  desktop_.kill_backend();
  EXPECT_EQ(next_hotkey(5000), (Hotkey{1, 0})) << "the held hot key is released";
  EXPECT_EQ(next_hotkey(5000), (Hotkey{0, -KMX_ERR_CLOSED}));
  EXPECT_EQ(apply({{1, "Ctrl+Alt+L", "talk"}}), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_stop(h_), KMX_OK);
}

TEST_F(Kde, TheFrontendKilledEndsTheRuntime) {
  ASSERT_EQ(apply({{1, "Ctrl+Alt+L", "talk"}}), KMX_OK) << last_error(h_);
  ASSERT_EQ(chord({CTRL, ALT}, L), KMX_OK) << last_error(h_);
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 1}));
  EXPECT_EQ(next_hotkey(), (Hotkey{1, 0}));
  desktop_.kill_frontend();
  EXPECT_EQ(next_hotkey(5000), (Hotkey{0, -KMX_ERR_CLOSED}));
  EXPECT_EQ(kmx_stop(h_), KMX_OK);
}

}  // namespace
