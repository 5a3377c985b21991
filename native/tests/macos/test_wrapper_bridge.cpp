// The bridge layer's C functions over the simulated Carbon.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <mutex>
#include <vector>

#include "velkor/bridge.h"
#include "velkor/hotkey.h"
#include "wrapper_support.h"

namespace kmx::testing {
namespace {

constexpr uint32_t SIG = velkor::HOTKEY_SIGNATURE;
constexpr int32_t PARAM_ERR = -50;
constexpr int32_t HOTKEY_EXISTS = -9878;

struct Seen {
  uint32_t first, second, third, fourth;
  bool operator==(const Seen&) const = default;
};

struct SeenLog {
  std::mutex mu;
  std::vector<Seen> calls;
  std::vector<Seen> take() {
    std::lock_guard lock(mu);
    return std::exchange(calls, {});
  }
};

void record(uint32_t a, uint32_t b, uint32_t c, uint32_t d, void* user_data) {
  auto* log = static_cast<SeenLog*>(user_data);
  std::lock_guard lock(log->mu);
  log->calls.push_back({a, b, c, d});
}

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override { kmxsim_reset(); }
  void TearDown() override {
    ASSERT_TRUE(kmxsim_flush(5000));
    kmxsim_reset();
  }
};

TEST_F(BridgeTest, NullObjectsAreAcceptedEverywhere) {
  EXPECT_EQ(velkor_hotkey_unregister(nullptr), 0);
  EXPECT_EQ(velkor_hotkey_id(nullptr), 0u);
  velkor_hotkey_retain(nullptr);
  velkor_hotkey_release(nullptr);
  EXPECT_EQ(velkor_event_handler_remove(nullptr), 0);
  velkor_event_handler_retain(nullptr);
  velkor_event_handler_release(nullptr);
  velkor_hotkey_stream_unsubscribe(nullptr);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_UnregisterEventHotKey), 0u);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_RemoveEventHandler), 0u);
}

TEST_F(BridgeTest, HandlerWithoutCallbackIsRefusedWithParamErr) {
  int dummy = 0;
  auto* handler = reinterpret_cast<VelkorKeyboardHandler*>(&dummy);  // anything but null
  EXPECT_EQ(velkor_event_handler_install(nullptr, nullptr, &handler), PARAM_ERR);
  EXPECT_EQ(handler, nullptr);
  EXPECT_EQ(velkor_hotkey_stream_subscribe(nullptr, nullptr), nullptr);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_InstallEventHandler), 0u);
}

TEST_F(BridgeTest, RegistrationKeepsItsHotKeyUntilTheLastReferenceGoes) {
  VelkorRegistration* reg = nullptr;
  ASSERT_EQ(velkor_hotkey_register(0x28, CMD | CONTROL, SIG, 77, 0, &reg), 0);
  EXPECT_EQ(velkor_hotkey_id(reg), 77u);
  velkor_hotkey_retain(reg);
  velkor_hotkey_release(reg);
  EXPECT_TRUE(kmxsim_hotkey_registered(0x28, CMD | CONTROL));
  velkor_hotkey_release(reg);
  EXPECT_FALSE(kmxsim_hotkey_registered(0x28, CMD | CONTROL));
}

TEST_F(BridgeTest, UnregisterReachesCarbonOnlyOnce) {
  VelkorRegistration* reg = nullptr;
  ASSERT_EQ(velkor_hotkey_register(0x28, CMD | OPTION, SIG, 78, 0, &reg), 0);
  EXPECT_EQ(velkor_hotkey_unregister(reg), 0);
  EXPECT_FALSE(kmxsim_hotkey_registered(0x28, CMD | OPTION));
  EXPECT_EQ(velkor_hotkey_unregister(reg), 0);
  velkor_hotkey_release(reg);
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_UnregisterEventHotKey), 1u);
}

TEST_F(BridgeTest, RefusedRegistrationReturnsCarbonsStatusAndNullOut) {
  ASSERT_EQ(kmxsim_other_app_register_hotkey(1, 0x28, SHIFT | OPTION, kEventHotKeyExclusive), 0);
  int dummy = 0;
  auto* reg = reinterpret_cast<VelkorRegistration*>(&dummy);
  EXPECT_EQ(velkor_hotkey_register(0x28, SHIFT | OPTION, SIG, 79, kEventHotKeyExclusive, &reg), HOTKEY_EXISTS);
  EXPECT_EQ(reg, nullptr);
}

TEST_F(BridgeTest, FailedUnregisterReturnsItsStatus) {
  VelkorRegistration* reg = nullptr;
  ASSERT_EQ(velkor_hotkey_register(0x28, CMD | SHIFT | OPTION, SIG, 81, 0, &reg), 0);
  kmxsim_fail_nth_call(KMXSIM_FN_UnregisterEventHotKey, 1, -9870);
  EXPECT_EQ(velkor_hotkey_unregister(reg), -9870);
  velkor_hotkey_release(reg);  // the reference was cleared: no second attempt
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_UnregisterEventHotKey), 1u);
  EXPECT_TRUE(kmxsim_hotkey_registered(0x28, CMD | SHIFT | OPTION));  // Carbon kept it
}

TEST_F(BridgeTest, KeyboardHandlerReportsClassKindSignatureAndId) {
  SeenLog log;
  VelkorKeyboardHandler* handler = nullptr;
  ASSERT_EQ(velkor_event_handler_install(record, &log, &handler), 0);
  ASSERT_NE(handler, nullptr);
  VelkorRegistration* reg = nullptr;
  ASSERT_EQ(velkor_hotkey_register(0x25, CMD | CONTROL, SIG, 82, 0, &reg), 0);

  press_and_release(0x25, CMD | CONTROL);
  const uint32_t keyb = 0x6B657962;  // 'keyb'
  EXPECT_EQ(log.take(), (std::vector<Seen>{{keyb, 5, SIG, 82}, {keyb, 6, SIG, 82}}));

  EXPECT_EQ(velkor_event_handler_remove(handler), 0);
  EXPECT_EQ(velkor_event_handler_remove(handler), 0);  // nothing left to remove
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_RemoveEventHandler), 1u);
  velkor_event_handler_release(handler);
  velkor_hotkey_release(reg);
}

TEST_F(BridgeTest, StreamCallbackTakesTheIdFirst) {
  SeenLog log;
  VelkorAsyncStreamBridge* stream = velkor_hotkey_stream_subscribe(record, &log);
  ASSERT_NE(stream, nullptr);
  VelkorRegistration* reg = nullptr;
  ASSERT_EQ(velkor_hotkey_register(0x25, SHIFT | CONTROL, 0x74657374, 83, 0, &reg), 0);

  press_and_release(0x25, SHIFT | CONTROL);
  const uint32_t keyb = 0x6B657962;
  EXPECT_EQ(log.take(), (std::vector<Seen>{{83, 5, keyb, 0x74657374}, {83, 6, keyb, 0x74657374}}));

  velkor_hotkey_stream_unsubscribe(stream);  // the last reference removes its handler
  EXPECT_EQ(kmxsim_call_count(KMXSIM_FN_RemoveEventHandler), 1u);
  velkor_hotkey_release(reg);
}

TEST_F(BridgeTest, FailedHandlerInstallationLeavesNothingInstalled) {
  kmxsim_counts before{};
  kmxsim_get_counts(&before);
  kmxsim_fail_nth_call(KMXSIM_FN_InstallEventHandler, 1, -108);
  SeenLog log;
  int dummy = 0;
  auto* handler = reinterpret_cast<VelkorKeyboardHandler*>(&dummy);
  EXPECT_EQ(velkor_event_handler_install(record, &log, &handler), -108);
  EXPECT_EQ(handler, nullptr);
  kmxsim_fail_nth_call(KMXSIM_FN_InstallEventHandler, 1, -108);
  EXPECT_EQ(velkor_hotkey_stream_subscribe(record, &log), nullptr);
  kmxsim_counts after{};
  kmxsim_get_counts(&after);
  EXPECT_EQ(after.event_handlers, before.event_handlers);
}

TEST_F(BridgeTest, RightSideModifierFlagsAreJudgedOnTheLow16Bits) {
  EXPECT_EQ(velkor_modifierflags_has_right_side(0x2000), 1u);
  EXPECT_EQ(velkor_modifierflags_has_right_side(0x1FFF), 0u);
  EXPECT_EQ(velkor_modifierflags_has_right_side(0x12000), 1u);
  EXPECT_EQ(velkor_modifierflags_has_right_side(0x30000), 0u);
}

}  // namespace
}  // namespace kmx::testing
