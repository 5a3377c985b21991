// Run loops and file-descriptor sources: once-per-enabling callbacks, stop, close-on-invalidate, thread exit.
#include "sim_test_support.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace {

using kmxsim_test::LoopThread;
using kmxsim_test::SimTest;

class RunLoopTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair_), 0);
  }
  void TearDown() override {
    for (int fd : pair_)
      if (fd >= 0) ::close(fd);
    SimTest::TearDown();
  }
  void send_byte() { ASSERT_EQ(::write(pair_[1], "x", 1), 1); }
  int pair_[2] = {-1, -1};
};

// Every callback below is given this as its info pointer.
struct Probe {
  int calls = 0;
  int stop_after = 0;     // stops the run loop at this call
  bool reenable = false;  // enables the read callback again
  std::thread::id thread;
};

void probe_callback(CFFileDescriptorRef f, CFOptionFlags types, void* info) {
  auto* p = static_cast<Probe*>(info);
  EXPECT_EQ(types, kCFFileDescriptorReadCallBack);
  ++p->calls;
  p->thread = std::this_thread::get_id();
  if (p->reenable) CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
  if (p->calls == p->stop_after) CFRunLoopStop(CFRunLoopGetCurrent());
}

struct Watched {
  CFFileDescriptorRef descriptor;
  CFRunLoopSourceRef source;
};

Watched watch(int fd, Probe* probe, bool close_on_invalidate = false) {
  CFFileDescriptorContext context{0, probe, nullptr, nullptr, nullptr};
  CFFileDescriptorRef f =
      CFFileDescriptorCreate(kCFAllocatorDefault, fd, close_on_invalidate, probe_callback, &context);
  EXPECT_NE(f, nullptr);
  CFRunLoopSourceRef s = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
  EXPECT_NE(s, nullptr);
  CFRunLoopAddSource(CFRunLoopGetCurrent(), s, kCFRunLoopCommonModes);
  CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
  return {f, s};
}

void unwatch(Watched w) {
  CFFileDescriptorInvalidate(w.descriptor);
  CFRelease(w.descriptor);
  CFRelease(w.source);
}

TEST_F(RunLoopTest, DescriptorCallbackFiresOncePerEnabling) {
  // The watched byte is never read, so the descriptor stays readable through every pass of the loop; a sentinel
  // that re-enables itself keeps the loop turning and stops it on its third call.
  int sentinel_pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sentinel_pair), 0);
  ASSERT_EQ(::write(sentinel_pair[1], "s", 1), 1);
  send_byte();
  Probe once;
  Probe sentinel{0, 3, true, {}};
  Watched a = watch(pair_[0], &once);
  Watched b = watch(sentinel_pair[0], &sentinel);
  CFRunLoopRun();
  EXPECT_EQ(sentinel.calls, 3);
  EXPECT_EQ(once.calls, 1);
  unwatch(a);
  unwatch(b);
  ::close(sentinel_pair[0]);
  ::close(sentinel_pair[1]);
}

TEST_F(RunLoopTest, ReenabledDescriptorFiresAgainWhileDataIsPending) {
  send_byte();
  Probe probe{0, 3, true, {}};
  Watched w = watch(pair_[0], &probe);
  CFRunLoopRun();
  EXPECT_EQ(probe.calls, 3);
  unwatch(w);
}

TEST_F(RunLoopTest, CrossThreadWakeReachesTheCallback) {
  std::promise<void> called;
  struct Ctx {
    std::promise<void>* called;
    std::thread::id thread;
  } ctx{&called, {}};
  auto callback = [](CFFileDescriptorRef, CFOptionFlags, void* info) {
    auto* c = static_cast<Ctx*>(info);
    c->thread = std::this_thread::get_id();
    c->called->set_value();
  };
  CFFileDescriptorRef f = nullptr;
  CFRunLoopSourceRef s = nullptr;
  LoopThread loop(
      [&] {
        CFFileDescriptorContext context{0, &ctx, nullptr, nullptr, nullptr};
        f = CFFileDescriptorCreate(kCFAllocatorDefault, pair_[0], false, callback, &context);
        s = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
        CFRunLoopAddSource(CFRunLoopGetCurrent(), s, kCFRunLoopCommonModes);
        CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
      },
      [&] {
        CFFileDescriptorInvalidate(f);
        CFRelease(s);
        CFRelease(f);
      });
  send_byte();
  called.get_future().wait();
  loop.stop();
  EXPECT_EQ(ctx.thread, loop.id());
}

TEST_F(RunLoopTest, RunWithoutSourcesReturnsAtOnce) { CFRunLoopRun(); }

// As in Core Foundation: a stop only ends a run in progress.
TEST_F(RunLoopTest, StopBeforeRunIsLost) {
  Probe probe{0, 1, false, {}};
  Watched w = watch(pair_[0], &probe);
  CFRunLoopStop(CFRunLoopGetCurrent());
  send_byte();
  CFRunLoopRun();  // would return at once had the stop been kept
  EXPECT_EQ(probe.calls, 1);
  unwatch(w);
}

TEST_F(RunLoopTest, InvalidateClosesTheDescriptorOnlyWhenAsked) {
  Probe probe;
  Watched keep = watch(pair_[0], &probe, false);
  unwatch(keep);
  EXPECT_NE(::fcntl(pair_[0], F_GETFD), -1);

  Watched close = watch(pair_[0], &probe, true);
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.valid_file_descriptors, before_.valid_file_descriptors + 1);
  EXPECT_EQ(c.attached_sources, before_.attached_sources + 1);
  CFFileDescriptorInvalidate(close.descriptor);
  EXPECT_EQ(::fcntl(pair_[0], F_GETFD), -1);
  pair_[0] = -1;
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.valid_file_descriptors, before_.valid_file_descriptors);
  EXPECT_EQ(c.attached_sources, before_.attached_sources) << "invalidation removes the source from its run loop";
  EXPECT_FALSE(CFRunLoopSourceIsValid(close.source));
  CFRelease(close.descriptor);
  CFRelease(close.source);
}

TEST_F(RunLoopTest, SourceKeepsItsDescriptorAliveUntilReleased) {
  Probe probe;
  CFFileDescriptorContext context{0, &probe, nullptr, nullptr, nullptr};
  CFFileDescriptorRef f = CFFileDescriptorCreate(kCFAllocatorDefault, pair_[0], false, probe_callback, &context);
  CFRunLoopSourceRef s = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
  EXPECT_EQ(CFGetRetainCount(f), 2);
  CFRetain(s);
  EXPECT_EQ(CFGetRetainCount(s), 2);
  CFRelease(f);
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.file_descriptors, before_.file_descriptors + 1);
  CFRelease(s);
  CFRelease(s);
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.file_descriptors, before_.file_descriptors);
  EXPECT_EQ(c.run_loop_sources, before_.run_loop_sources);
}

TEST_F(RunLoopTest, EndingThreadDropsItsRunLoopAndSources) {
  Probe probe;
  CFFileDescriptorRef f = nullptr;
  CFRunLoopSourceRef s = nullptr;
  std::thread([&] {
    Watched w = watch(pair_[0], &probe);
    f = w.descriptor;
    s = w.source;
  }).join();
  kmxsim_counts c{};
  kmxsim_get_counts(&c);
  EXPECT_EQ(c.run_loops, before_.run_loops);
  EXPECT_EQ(c.attached_sources, before_.attached_sources);
  EXPECT_EQ(CFGetRetainCount(s), 1);
  unwatch({f, s});
}

}  // namespace
