// Chord injection and key state through the C functions.
#include "e2e_support.h"

namespace kmx::testing {
namespace {

constexpr uint32_t LEFT_CTRL = 0xE0, LEFT_SHIFT = 0xE1, LEFT_ALT = 0xE2, LEFT_META = 0xE3, RIGHT_SHIFT = 0xE5;
constexpr uint32_t KEY_A = 0x04, KEY_K = 0x0E, F21 = 0x70, PRINT_SCREEN = 0x46;
constexpr uint64_t MARKER = KMX_INJECTION_MARKER;

using Chords = MacRuntimeTest;

struct Posted {
  uint16_t code;
  bool down;
  uint64_t flags;
  bool operator==(const Posted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Posted& p) {
  return os << "{" << p.code << ", " << p.down << ", 0x" << std::hex << p.flags << std::dec << "}";
}

constexpr uint64_t CMD_F = 0x100000, SHIFT_F = 0x20000, CTRL_F = 0x40000, ALT_F = 0x80000;

std::vector<kmxsim_posted_event> posted_log() {
  std::vector<kmxsim_posted_event> log(kmxsim_posted_events(nullptr, 0));
  log.resize(kmxsim_posted_events(log.data(), log.size()));
  return log;
}

// The keys posted with their flags, after checking the marker every chord event carries.
std::vector<Posted> posted() {
  std::vector<Posted> out;
  for (const kmxsim_posted_event& e : posted_log()) {
    EXPECT_EQ(static_cast<uint64_t>(e.user_data), MARKER);
    EXPECT_EQ(e.tap, static_cast<uint32_t>(kCGHIDEventTap));
    EXPECT_TRUE(e.delivered);
    out.push_back({e.keycode, e.down, e.flags});
  }
  return out;
}

// Keys down in the session once every posted event has arrived.
size_t keys_down() {
  EXPECT_TRUE(kmxsim_flush(5000));
  return kmxsim_keys_down(nullptr, 0);
}

KmxStatus chord(KmxHandle h, std::initializer_list<uint32_t> modifiers, uint32_t key) {
  return kmx_send_chord(h, modifiers.begin(), modifiers.size(), key);
}

// A modifier's release carries the flags of the modifiers still held, so
// that the focused application does not go on seeing it held.
TEST_F(Chords, MetaShiftKPostsSixMarkedEventsEachReleaseWithoutItsOwnFlag) {
  KmxHandle h = create();
  ASSERT_EQ(chord(h, {LEFT_META, LEFT_SHIFT}, KEY_K), KMX_OK) << last_error(h);
  const uint64_t all = CMD_F | SHIFT_F;
  EXPECT_EQ(posted(), (std::vector<Posted>{{0x37, true, all},
                                           {0x38, true, all},
                                           {0x28, true, all},
                                           {0x28, false, all},
                                           {0x38, false, CMD_F},
                                           {0x37, false, 0}}));
  EXPECT_EQ(keys_down(), 0u);
  EXPECT_EQ(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState), 0u) << "the session sees no modifier";
}

TEST_F(Chords, BothShiftKeysArePressedButFlaggedOnce) {
  KmxHandle h = create();
  ASSERT_EQ(chord(h, {LEFT_SHIFT, RIGHT_SHIFT}, KEY_A), KMX_OK) << last_error(h);
  EXPECT_EQ(posted(), (std::vector<Posted>{{0x38, true, SHIFT_F},
                                           {0x3C, true, SHIFT_F},
                                           {0x00, true, SHIFT_F},
                                           {0x00, false, SHIFT_F},
                                           {0x3C, false, SHIFT_F},  // left shift still down
                                           {0x38, false, 0}}));
}

TEST_F(Chords, HeldModifierGetsNoEventsButKeepsItsFlag) {
  KmxHandle h = create();
  kmxsim_key_press(0x37);  // the user holds left command
  ASSERT_EQ(chord(h, {LEFT_META, LEFT_SHIFT}, KEY_K), KMX_OK) << last_error(h);
  EXPECT_EQ(posted(), (std::vector<Posted>{{0x38, true, CMD_F | SHIFT_F},
                                           {0x28, true, CMD_F | SHIFT_F},
                                           {0x28, false, CMD_F | SHIFT_F},
                                           {0x38, false, CMD_F}}));
  EXPECT_TRUE(kmxsim_key_is_down(0x37));
  kmxsim_key_release(0x37);
}

// Through the key tap, as the host's raw-input observer sees the chord.
TEST_F(Chords, RawKeysSeeEveryChordReleaseAsARelease) {
  KmxHandle h = create(KMX_RAW_KEYS);
  ASSERT_EQ(chord(h, {LEFT_SHIFT, LEFT_META}, KEY_A), KMX_OK) << last_error(h);
  std::vector<std::pair<uint32_t, uint8_t>> seen;
  for (const KmxEvent& e : drain()) seen.push_back({e.native_code, e.down});
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint8_t>>{
                      {0x38, 1}, {0x37, 1}, {0x00, 1}, {0x00, 0}, {0x37, 0}, {0x38, 0}}));
}

// Posting is asynchronous, so the session's key state may still show a key
// of the previous chord as down; only what the user physically holds counts.
// Here the session holds K and Control through another process's events.
TEST_F(Chords, KeysDownOnlyInTheSessionAreNotPhysicallyHeld) {
  KmxHandle h = create();
  kmxsim_post_key_from_process(4242, 0x28, true, 0, 0);
  kmxsim_post_key_from_process(4242, 0x3B, true, CTRL_F, 0);
  ASSERT_TRUE(kmxsim_flush(5000));
  ASSERT_TRUE(kmxsim_key_is_down(0x28));
  EXPECT_EQ(kmx_is_key_down(h, KEY_K), 0);
  EXPECT_EQ(kmx_is_key_down(h, LEFT_CTRL), 0);
  kmxsim_clear_posted_events();
  ASSERT_EQ(chord(h, {LEFT_CTRL}, KEY_K), KMX_OK) << last_error(h);
  EXPECT_EQ(posted().size(), 4u) << "Control was pressed: the user does not hold it";
  // Back-to-back chords are never refused for the keys of the one before.
  for (int i = 0; i < 20; ++i) ASSERT_EQ(chord(h, {LEFT_CTRL}, KEY_K), KMX_OK) << last_error(h);
  EXPECT_EQ(keys_down(), 0u);
}

TEST_F(Chords, HeldMainKeyIsRefused) {
  KmxHandle h = create();
  kmxsim_key_press(0x28);
  EXPECT_EQ(chord(h, {LEFT_CTRL}, KEY_K), KMX_ERR_BACKEND);
  EXPECT_EQ(last_error(h),
            "backend error: main chord key 0xe is physically held; declining to inject rather than risk releasing a "
            "key the user still owns");
  EXPECT_TRUE(posted_log().empty());
  kmxsim_key_release(0x28);
}

TEST_F(Chords, KeysWithoutMacKeyCodeAreUnsupported) {
  KmxHandle h = create();
  EXPECT_EQ(chord(h, {}, F21), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(last_error(h), "unsupported on this backend: no macOS keycode for portable usage 0x70");
  EXPECT_EQ(chord(h, {LEFT_ALT}, PRINT_SCREEN), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(last_error(h), "unsupported on this backend: no macOS keycode for portable usage 0x46");
  EXPECT_TRUE(posted_log().empty());
}

TEST_F(Chords, ModifierUsageIsAcceptedAsTheMainKey) {
  KmxHandle h = create();
  ASSERT_EQ(chord(h, {LEFT_CTRL}, LEFT_ALT), KMX_OK) << last_error(h);
  // The modifier main key carries its own flag while down, so that it reads as pressed and then released.
  EXPECT_EQ(posted(),
            (std::vector<Posted>{
                {0x3B, true, CTRL_F}, {0x3A, true, CTRL_F | ALT_F}, {0x3A, false, CTRL_F}, {0x3B, false, 0}}));
}

TEST_F(Chords, MoreThanFourModifiersAreRefusedBeforeLookingAtKeys) {
  KmxHandle h = create();
  kmxsim_key_press(0x28);  // would be refused as held, were it looked at
  EXPECT_EQ(chord(h, {0xE0, 0xE1, 0xE2, 0xE3, 0xE4}, KEY_K), KMX_ERR_INVALID_ARGUMENT);
  EXPECT_EQ(last_error(h), "invalid argument: at most 4 chord modifiers");
  kmxsim_set_accessibility_trusted(false);
  EXPECT_EQ(chord(h, {0xE0, 0xE1, 0xE2, 0xE3, 0xE4}, KEY_K), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(last_error(h), "unsupported on this backend: keyboard injection requires the Accessibility permission");
  EXPECT_TRUE(posted_log().empty());
  kmxsim_key_release(0x28);
}

TEST_F(Chords, UntrustedProcessCannotInjectButCanReadKeyState) {
  KmxHandle h = create();
  kmxsim_set_accessibility_trusted(false);
  EXPECT_EQ(chord(h, {}, KEY_A), KMX_ERR_UNSUPPORTED);
  EXPECT_TRUE(posted_log().empty());

  kmxsim_key_press(0x37);
  const uint32_t usages[] = {LEFT_META, KEY_A};
  uint8_t down[2] = {9, 9};
  ASSERT_EQ(kmx_is_key_down_many(h, usages, 2, down), KMX_OK) << last_error(h);
  EXPECT_EQ(down[0], 1);
  EXPECT_EQ(down[1], 0);
  EXPECT_EQ(kmx_is_key_down(h, LEFT_META), 1);
  kmxsim_key_release(0x37);
  EXPECT_EQ(kmx_is_key_down(h, LEFT_META), 0);
}

TEST_F(Chords, KeyStateOfAnUnmappedUsageFailsWithoutPartialResults) {
  KmxHandle h = create();
  kmxsim_key_press(0x00);
  const uint32_t usages[] = {KEY_A, F21};
  uint8_t down[2] = {9, 9};
  EXPECT_EQ(kmx_is_key_down_many(h, usages, 2, down), KMX_ERR_UNSUPPORTED);
  EXPECT_EQ(last_error(h), "unsupported on this backend: no macOS keycode for portable usage 0x70");
  EXPECT_EQ(down[0], 9);
  kmxsim_key_release(0x00);
}

TEST_F(Chords, EventSourceFailurePostsNothing) {
  KmxHandle h = create();
  kmxsim_fail_nth_call(KMXSIM_FN_CGEventSourceCreate, 1, 0);
  EXPECT_EQ(chord(h, {LEFT_META}, KEY_K), KMX_ERR_NOT_DELIVERED);
  EXPECT_EQ(last_error(h), "injection not delivered: CGEventSourceCreate failed before any chord event was posted");
  EXPECT_TRUE(posted_log().empty());
}

TEST_F(Chords, FailureAtEveryStepLeavesNoChordKeyDown) {
  KmxHandle h = create();
  for (uint32_t k = 1; k <= 6; ++k) {
    SCOPED_TRACE("failing step " + std::to_string(k));
    kmxsim_clear_posted_events();
    kmxsim_fail_nth_call(KMXSIM_FN_CGEventCreateKeyboardEvent, k, 0);
    const KmxStatus status = chord(h, {LEFT_META, LEFT_SHIFT}, KEY_K);
    if (k == 1) {
      EXPECT_EQ(status, KMX_ERR_NOT_DELIVERED);
      EXPECT_EQ(last_error(h), "injection not delivered: backend error: CGEventCreateKeyboardEvent failed");
      EXPECT_TRUE(posted_log().empty());
    } else {
      EXPECT_EQ(status, KMX_ERR_DELIVERY_UNCERTAIN);
      EXPECT_EQ(last_error(h), "delivery uncertain: posted " + std::to_string(k - 1) +
                                   " of 6 chord events before a later one failed: backend error: "
                                   "CGEventCreateKeyboardEvent failed");
    }
    EXPECT_EQ(keys_down(), 0u);
    EXPECT_EQ(counts().event_sources, before_.event_sources);
    EXPECT_EQ(counts().events, before_.events);
  }
}

}  // namespace
}  // namespace kmx::testing
