// Start and end of the backend through the DLL: statistics, stop while a
// poller waits, and nothing left behind.
#include "wine_support.h"

#include <tlhelp32.h>

#include <regex>
#include <thread>

namespace kmx::wintest {
namespace {

size_t thread_count() {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  size_t n = 0;
  for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++n;
  }
  ::CloseHandle(snapshot);
  return n;
}

HWND hotkey_window() { return ::FindWindowExW(HWND_MESSAGE, nullptr, L"keymux_hotkey_window", nullptr); }

const std::regex STATS_LINE(R"(\[keymux-stats\] wakes=\d+ commands=\d+ hook_events=\d+ motion_coalesced=\d+)");

TEST(Statistics, EmptyVariablePrintsTheLineWhenTheBackendEnds) {
  ASSERT_TRUE(::SetEnvironmentVariableW(L"KMX_DEBUG_STATS", L""));
  StderrCapture capture;
  {
    Runtime rt(KMX_RAW_KEYS);
    ASSERT_EQ(rt.status(), KMX_OK) << last_init_error();
    send({key_input('S', true), key_input('S', false)});
    rt.drain(200);
    ASSERT_EQ(kmx_set_raw_mask(rt.get(), 0), KMX_OK);
    ASSERT_EQ(kmx_stop(rt.get()), KMX_OK);
  }
  const auto out = lines(capture.text());
  ::SetEnvironmentVariableW(L"KMX_DEBUG_STATS", nullptr);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(std::regex_match(out[0], STATS_LINE)) << out[0];
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out[0], m, std::regex(R"(commands=(\d+) hook_events=(\d+))")));
  EXPECT_GE(std::stoul(m[1]), 2u) << "the mask change and the stop";
  EXPECT_GE(std::stoul(m[2]), 2u) << "the key's press and release";
}

TEST(Statistics, UnsetVariablePrintsNothing) {
  ::SetEnvironmentVariableW(L"KMX_DEBUG_STATS", nullptr);
  StderrCapture capture;
  {
    Runtime rt(KMX_RAW_KEYS);
    ASSERT_EQ(rt.status(), KMX_OK) << last_init_error();
  }
  EXPECT_EQ(capture.text(), "");
}

TEST(Lifecycle, StopWakesAPollerWaitingWithoutLimit) {
  Runtime rt(0);
  ASSERT_EQ(rt.status(), KMX_OK);
  KmxStatus polled = 99;
  std::thread poller([&] {
    KmxEvent e;
    polled = kmx_poll_event(rt.get(), &e, 0xFFFFFFFFu);
  });
  ::Sleep(100);  // let it block; the outcome does not depend on this
  EXPECT_EQ(kmx_stop(rt.get()), KMX_OK);
  poller.join();
  EXPECT_EQ(polled, KMX_ERR_CLOSED);
  const uint32_t mods[] = {0xE0};
  EXPECT_EQ(kmx_send_chord(rt.get(), mods, 1, 0x04), KMX_ERR_CLOSED);
  EXPECT_EQ(kmx_set_raw_mask(rt.get(), 1), KMX_ERR_CLOSED);
}

TEST(Lifecycle, DestroyLeavesNoThreadWindowOrRegistration) {
  const size_t threads_before = thread_count();
  KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS | KMX_RAW_BUTTONS};
  KmxHandle h = nullptr;
  ASSERT_EQ(kmx_create(&options, &h), KMX_OK);
  EXPECT_NE(hotkey_window(), nullptr);
  KmxShortcut item{3, "Ctrl+Alt+H", ""};
  ASSERT_EQ(kmx_apply_hotkeys(h, &item, 1), KMX_OK);
  send({key_input(VK_CONTROL, true), key_input(VK_MENU, true), key_input('H', true)});
  KmxEvent e;
  do {
    ASSERT_EQ(kmx_poll_event(h, &e, 5000), KMX_OK);
  } while (e.kind != KMX_EVENT_HOTKEY);
  EXPECT_GT(thread_count(), threads_before) << "backend thread and a release watcher";
  // Destroyed while the hot key is still held: its watcher must end too.
  kmx_destroy(h);
  send({key_input('H', false), key_input(VK_MENU, false), key_input(VK_CONTROL, false)});

  EXPECT_EQ(hotkey_window(), nullptr);
  EXPECT_EQ(thread_count(), threads_before);
  HWND probe = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  EXPECT_TRUE(::RegisterHotKey(probe, 1, MOD_CONTROL | MOD_ALT, 'H')) << "released at the end";
  ::UnregisterHotKey(probe, 1);
  ::DestroyWindow(probe);

  Runtime again(0);
  EXPECT_EQ(again.status(), KMX_OK) << "the single-runtime slot is free again";
}

}  // namespace
}  // namespace kmx::wintest
