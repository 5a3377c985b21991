// Bridge objects made without an out pointer stay installed for the rest of
// the process, as Carbon's own registrations and handlers do. A process of its
// own: the handler left behind would take every later hot-key event.
#include <gtest/gtest.h>
#include <kmxsim/kmxsim.h>

#include <atomic>

#include "velkor/bridge.h"
#include "velkor/hotkey.h"
#include "wrapper_support.h"

namespace kmx::testing {
namespace {

std::atomic<int> CALLS{0};

void count(uint32_t, uint32_t, uint32_t, uint32_t, void*) { ++CALLS; }

TEST(UnownedBridgeObjects, RegistrationAndHandlerWithoutOutPointerStayInstalled) {
  kmxsim_reset();
  kmxsim_counts before{};
  kmxsim_get_counts(&before);
  EXPECT_EQ(velkor_hotkey_register(0x28, SHIFT | CONTROL | OPTION, velkor::HOTKEY_SIGNATURE, 80, 0, nullptr), 0);
  EXPECT_TRUE(kmxsim_hotkey_registered(0x28, SHIFT | CONTROL | OPTION));

  EXPECT_EQ(velkor_event_handler_install(count, nullptr, nullptr), 0);
  kmxsim_counts after{};
  kmxsim_get_counts(&after);
  EXPECT_EQ(after.event_handlers, before.event_handlers + 1);
  EXPECT_EQ(after.hotkeys, before.hotkeys + 1);
  press_and_release(0x28, SHIFT | CONTROL | OPTION);
  EXPECT_EQ(CALLS.load(), 2);
}

}  // namespace
}  // namespace kmx::testing
