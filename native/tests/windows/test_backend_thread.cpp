// The backend thread's two roads, driven through the backend contract
// directly: commands move only on the wake event, a Stop drains what is
// queued behind it, and hot-key edges are filtered by the id map.
#include "wine_support.h"

#include "platform/backend.h"
#include "platform/windows/hotkey_router.h"

namespace kmx::wintest {
namespace {

using platform::BackendStart;

struct Started {
  BackendStart start;
  ~Started() {
    if (start.worker.joinable()) {
      auto [ack_tx, ack_rx] = queue::channel<platform::Ack>();
      start.commands.send(platform::Stop{std::move(ack_tx)});
      start.wake->signal();
      (void)ack_rx.recv(std::nullopt);
      start.worker.join();
    }
  }
};

std::optional<KmxEvent> next_event(const platform::EventReceiver& events, int ms = 5000) {
  auto [e, why] = events.recv(queue::deadline_after_ms(ms));
  return e;
}

TEST(BackendThread, MessagesAloneNeverReadTheCommandQueue) {
  auto spawned = platform::spawn(KMX_RAW_KEYS);
  ASSERT_TRUE(spawned.ok()) << spawned.error().display();
  Started s{std::move(spawned.value())};
  EXPECT_EQ(s.start.name, "win32");
  EXPECT_EQ(s.start.capabilities, 239u);

  auto [reply_tx, reply_rx] = queue::channel<Status>();
  s.start.commands.send(platform::SetRawMask{0, std::move(reply_tx)});  // queued, no wake
  send({key_input('M', true), key_input('M', false)});
  ASSERT_TRUE(next_event(s.start.events)) << "the hook ran on the thread";
  ASSERT_TRUE(next_event(s.start.events));
  EXPECT_FALSE(reply_rx.try_recv()) << "hook traffic did not take the command";

  s.start.wake->signal();
  auto [reply, why] = reply_rx.recv(queue::deadline_after_ms(5000));
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->ok());
}

TEST(BackendThread, CommandsQueuedBehindStopStillRun) {
  auto spawned = platform::spawn(0);
  ASSERT_TRUE(spawned.ok());
  BackendStart start = std::move(spawned.value());

  auto [ack_tx, ack_rx] = queue::channel<platform::Ack>();
  auto [apply_tx, apply_rx] = queue::channel<Result<hotkeys::ApplyOutcome>>();
  start.commands.send(platform::Stop{std::move(ack_tx)});
  start.commands.send(platform::ApplyHotkeys{{{"Ctrl+Alt+Q", "", 4}}, std::move(apply_tx)});
  start.wake->signal();

  EXPECT_TRUE(ack_rx.recv(queue::deadline_after_ms(5000)).first);
  auto [outcome, why] = apply_rx.recv(queue::deadline_after_ms(5000));
  ASSERT_TRUE(outcome) << "the apply behind the Stop was carried out";
  EXPECT_TRUE(outcome->ok());
  EXPECT_FALSE(start.worker.join());

  // The thread released its registrations as it ended, and its event queue closed.
  HWND probe = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  EXPECT_TRUE(::RegisterHotKey(probe, 1, MOD_CONTROL | MOD_ALT, 'Q'));
  ::UnregisterHotKey(probe, 1);
  ::DestroyWindow(probe);
  EXPECT_EQ(start.events.recv(queue::deadline_after_ms(1000)).second, queue::RecvError::Disconnected);
}

TEST(BackendThread, EdgesForUnknownIdsAreIgnored) {
  auto spawned = platform::spawn(0);
  ASSERT_TRUE(spawned.ok());
  Started s{std::move(spawned.value())};
  auto [reply_tx, reply_rx] = queue::channel<Result<hotkeys::ApplyOutcome>>();
  s.start.commands.send(platform::ApplyHotkeys{{{"F7", "", 70}}, std::move(reply_tx)});
  s.start.wake->signal();
  ASSERT_TRUE(reply_rx.recv(queue::deadline_after_ms(5000)).first);

  platform::windows::HotkeyRouter::route(0xDEAD, true);  // not registered
  send({key_input(VK_F7, true), key_input(VK_F7, false)});
  auto e = next_event(s.start.events);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->kind, KMX_EVENT_HOTKEY);
  EXPECT_EQ(e->shortcut_id, 70u) << "the unknown edge produced nothing before it";
}

TEST(BackendThread, EdgeWithoutARunningBackendIsDropped) {
  platform::windows::HotkeyRouter::route(1, true);  // empty slot: nothing to do, nothing to crash
  auto spawned = platform::spawn(0);
  ASSERT_TRUE(spawned.ok());
  Started s{std::move(spawned.value())};
  EXPECT_FALSE(next_event(s.start.events, 300));
}

}  // namespace
}  // namespace kmx::wintest
