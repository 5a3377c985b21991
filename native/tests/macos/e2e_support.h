// Fixture of the end-to-end suites: keymux_native through its C functions
// on a freshly reset simulated desktop, with a leftover check at the end.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <keymux/keymux.h>
#include <kmxsim/kmxsim.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kmx::testing {

inline std::string last_error(KmxHandle h) {
  char buf[512] = {};
  kmx_last_error(h, buf, sizeof buf);
  return buf;
}

inline std::string last_init_error() {
  char buf[512] = {};
  kmx_last_init_error(buf, sizeof buf);
  return buf;
}

inline std::string leftovers(KmxHandle h) {
  char buf[512] = {};
  kmx_apply_leftovers(h, buf, sizeof buf);
  return buf;
}

// Whether a thread of this process carries the name.
inline bool thread_named(const std::string& name) {
  DIR* dir = ::opendir("/proc/self/task");
  if (dir == nullptr) return false;
  bool found = false;
  while (dirent* entry = ::readdir(dir)) {
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string line;
    if (std::getline(comm, line) && line == name) found = true;
  }
  ::closedir(dir);
  return found;
}

// Waits for a condition that another thread brings about (not a timing check).
template <class Pred>
bool eventually(Pred pred) {
  for (int i = 0; i < 1000; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

inline kmxsim_counts counts() {
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  return c;
}

class MacRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kmxsim_reset();
    before_ = counts();
  }

  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(kmx_stop(handle_), KMX_OK);
      kmx_destroy(handle_);
      handle_ = nullptr;
    }
    ASSERT_TRUE(kmxsim_flush(5000));
    const kmxsim_counts after = counts();
    EXPECT_EQ(after.taps, before_.taps);
    EXPECT_EQ(after.run_loop_sources, before_.run_loop_sources);
    EXPECT_EQ(after.attached_sources, before_.attached_sources);
    EXPECT_EQ(after.file_descriptors, before_.file_descriptors);
    EXPECT_EQ(after.events, before_.events);
    EXPECT_EQ(after.event_sources, before_.event_sources);
    EXPECT_EQ(after.hotkeys, before_.hotkeys + leaked_hotkeys_);
    EXPECT_EQ(after.open_fds, before_.open_fds);
    // A joined thread can stay listed for a moment while the kernel reaps it.
    EXPECT_TRUE(eventually([] { return !thread_named("keymux-macos"); }));
    kmxsim_reset();
  }

  KmxHandle create(uint32_t mask = 0) {
    KmxCreateOptions options{KMX_ABI_VERSION, mask};
    EXPECT_EQ(kmx_create(&options, &handle_), KMX_OK) << last_init_error();
    return handle_;
  }

  // Every event queued once the simulation has delivered its input and the
  // main thread (the test's) has run its event loop, as a host's does.
  std::vector<KmxEvent> drain() {
    EXPECT_TRUE(kmxsim_flush(5000));
    RunCurrentEventLoop(0);
    std::vector<KmxEvent> events;
    KmxEvent e{};
    while (kmx_poll_event(handle_, &e, 0) == KMX_OK) events.push_back(e);
    return events;
  }

  KmxHandle handle_ = nullptr;
  kmxsim_counts before_{};
  int leaked_hotkeys_ = 0;  // registrations a test leaves behind on purpose
};

}  // namespace kmx::testing
