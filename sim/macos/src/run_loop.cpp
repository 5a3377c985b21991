// Per-thread run loops: file-descriptor sources are polled, tap ports deliver their queued events.
#include "sim_state.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kmxsim {
namespace {

// The thread's run loop; its reference is dropped when the thread ends.
struct ThreadLoop {
  __CFRunLoop* loop = nullptr;
  ~ThreadLoop() {
    if (!loop) return;
    Lock lock;
    std::vector<__CFRunLoopSource*> sources;
    sources.swap(loop->sources);
    for (__CFRunLoopSource* s : sources) {
      std::erase(s->loops, loop);
      release_locked(s);
    }
    if (loop->wake_read >= 0) {
      ::close(loop->wake_read);
      ::close(loop->wake_write);
      loop->wake_read = loop->wake_write = -1;
    }
    sim().cv.notify_all();
    release_locked(loop);
  }
};

thread_local ThreadLoop THREAD_LOOP;

void check_mode(CFRunLoopMode mode, const char* caller) {
  if (mode != kCFRunLoopCommonModes && mode != kCFRunLoopDefaultMode) fatal(caller);
}

void drain_wake_pipe(__CFRunLoop* rl) {
  char buf[64];
  while (::read(rl->wake_read, buf, sizeof buf) > 0) {
  }
}

Tap* tap_of(__CFRunLoopSource* s) {
  if (!s->valid || !s->owner || s->owner->kind != Kind::MachPort) return nullptr;
  auto* p = static_cast<__CFMachPort*>(s->owner);
  return p->valid ? p->tap.get() : nullptr;
}

// Delivers one queued tap event of this loop; false when there was none.
bool deliver_one_tap_event(Lock& lock, __CFRunLoop* rl) {
  for (__CFRunLoopSource* s : rl->sources) {
    Tap* t = tap_of(s);
    if (!t || t->pending.empty() || t->in_callback) continue;
    auto* event = new __CGEvent;
    ++sim().events;
    event->data = std::move(t->pending.front());
    t->pending.pop_front();
    t->in_callback = true;
    __CFMachPort* port = t->port;
    retain_locked(port);
    CGEventTapCallBack callback = t->callback;
    void* info = t->user_info;
    lock.raw().unlock();
    // The tap-disabled notifications come without an event.
    const CGEventType type = event->data.type;
    const bool note = type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
    callback(reinterpret_cast<CGEventTapProxy>(t), type, note ? nullptr : event, info);
    lock.raw().lock();
    t->in_callback = false;
    release_locked(event);
    release_locked(port);
    sim().cv.notify_all();
    return true;
  }
  return false;
}

bool has_tap_work(__CFRunLoop* rl) {
  for (__CFRunLoopSource* s : rl->sources) {
    Tap* t = tap_of(s);
    if (t && !t->pending.empty() && !t->in_callback) return true;
  }
  return false;
}

struct Polled {
  __CFFileDescriptor* f;
  CFOptionFlags wanted;
};

void run(Lock& lock, __CFRunLoop* rl) {
  std::vector<pollfd> fds;
  std::vector<Polled> polled;
  // The main run loop is also the application's event loop, as under AppKit.
  const bool main = rl == sim().main_run_loop;
  for (;;) {
    if (main) dispatch_carbon_events(lock);
    if (rl->stop_requested) {
      rl->stop_requested = false;
      return;
    }
    if (rl->sources.empty()) return;

    fds.assign(1, pollfd{rl->wake_read, POLLIN, 0});
    polled.clear();
    for (__CFRunLoopSource* s : rl->sources) {
      if (!s->valid || !s->owner || s->owner->kind != Kind::FileDescriptor) continue;
      auto* f = static_cast<__CFFileDescriptor*>(s->owner);
      if (!f->valid || f->enabled == 0 || f->fd < 0) continue;
      short events = 0;
      if (f->enabled & kCFFileDescriptorReadCallBack) events |= POLLIN;
      if (f->enabled & kCFFileDescriptorWriteCallBack) events |= POLLOUT;
      fds.push_back(pollfd{f->fd, events, 0});
      retain_locked(f);
      polled.push_back({f, f->enabled});
    }
    const int timeout = has_tap_work(rl) || (main && !sim().app_queue.empty()) ? 0 : -1;
    lock.raw().unlock();
    int n = ::poll(fds.data(), fds.size(), timeout);
    lock.raw().lock();
    if (n < 0 && errno != EINTR) fatal("poll failed in CFRunLoopRun");
    if (fds[0].revents) drain_wake_pipe(rl);

    bool stopped = false;
    for (size_t i = 0; i < polled.size(); ++i) {
      __CFFileDescriptor* f = polled[i].f;
      const short re = fds[i + 1].revents;
      if (stopped || re == 0) continue;
      if (re & POLLNVAL) {
        // The descriptor was closed behind the object's back; a Mac would not report it either.
        f->enabled = 0;
        continue;
      }
      CFOptionFlags ready = 0;
      if (re & (POLLIN | POLLHUP | POLLERR)) ready |= kCFFileDescriptorReadCallBack;
      if (re & (POLLOUT | POLLERR)) ready |= kCFFileDescriptorWriteCallBack;
      const bool attached = f->source && f->source->valid &&
                            std::find(rl->sources.begin(), rl->sources.end(), f->source) != rl->sources.end();
      const CFOptionFlags fire = ready & f->enabled;
      if (!f->valid || !attached || fire == 0) continue;
      // Fires once per enabling: the callout has to enable the callback again to hear about the next data.
      f->enabled &= ~fire;
      CFFileDescriptorCallBack callout = f->callout;
      void* info = f->context.info;
      ++rl->in_callout;
      lock.raw().unlock();
      if (callout) callout(f, fire, info);
      lock.raw().lock();
      --rl->in_callout;
      sim().cv.notify_all();
      stopped = rl->stop_requested;
    }
    for (const Polled& p : polled) release_locked(p.f);
    if (stopped) continue;

    while (!rl->stop_requested && deliver_one_tap_event(lock, rl)) {
    }
  }
}

}  // namespace

void wake_loop_locked(__CFRunLoop* rl) {
  if (rl->wake_write < 0) return;
  const char byte = 1;
  // A full pipe already guarantees a wake-up.
  [[maybe_unused]] ssize_t n = ::write(rl->wake_write, &byte, 1);
}

void destroy_loop_locked(__CFRunLoop* rl) {
  for (__CFRunLoopSource* s : rl->sources) {
    std::erase(s->loops, rl);
    release_locked(s);
  }
  if (rl->wake_read >= 0) {
    ::close(rl->wake_read);
    ::close(rl->wake_write);
  }
  std::erase(sim().loops, rl);
  if (sim().main_run_loop == rl) sim().main_run_loop = nullptr;
  rl->magic = 0;
  delete rl;
}

bool tap_deliverable_locked(const Tap& t) {
  if (!t.port || !t.port->valid || !t.port->source || !t.port->source->valid) return false;
  // A loop that holds the source but is not running yet will deliver once it runs.
  return !t.port->source->loops.empty();
}

}  // namespace kmxsim

using namespace kmxsim;

extern "C" {

CFRunLoopRef CFRunLoopGetCurrent(void) {
  Lock lock;
  if (!THREAD_LOOP.loop) {
    auto* rl = new __CFRunLoop;
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0) fatal("cannot create the run loop's wake pipe");
    rl->wake_read = p[0];
    rl->wake_write = p[1];
    sim().loops.push_back(rl);
    if (is_main_thread()) sim().main_run_loop = rl;
    THREAD_LOOP.loop = rl;
  }
  return THREAD_LOOP.loop;
}

void CFRunLoopRun(void) {
  CFRunLoopRef rl = CFRunLoopGetCurrent();
  Lock lock;
  retain_locked(rl);
  const bool main = rl == sim().main_run_loop;
  ++rl->running;
  if (main) ++sim().main_loop_running;
  run(lock, rl);
  if (rl->running == 1) rl->stop_requested = false;
  if (main) --sim().main_loop_running;
  --rl->running;
  sim().cv.notify_all();
  release_locked(rl);
}

// As in Core Foundation, a stop ends a run in progress; one made while the loop is not running is lost.
void CFRunLoopStop(CFRunLoopRef rl) {
  Lock lock;
  checked(rl, "CFRunLoopStop");
  if (rl->running == 0) return;
  rl->stop_requested = true;
  wake_loop_locked(rl);
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
  Lock lock;
  wake_loop_locked(static_cast<__CFRunLoop*>(checked(rl, "CFRunLoopWakeUp")));
}

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock;
  checked(rl, "CFRunLoopAddSource");
  checked(source, "CFRunLoopAddSource");
  check_mode(mode, "CFRunLoopAddSource: only the default and common modes are simulated");
  if (!source->valid) return;
  if (std::find(rl->sources.begin(), rl->sources.end(), source) != rl->sources.end()) return;
  retain_locked(source);
  rl->sources.push_back(source);
  source->loops.push_back(rl);
  wake_loop_locked(rl);
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock;
  checked(rl, "CFRunLoopRemoveSource");
  checked(source, "CFRunLoopRemoveSource");
  check_mode(mode, "CFRunLoopRemoveSource: only the default and common modes are simulated");
  auto it = std::find(rl->sources.begin(), rl->sources.end(), source);
  if (it == rl->sources.end()) return;
  rl->sources.erase(it);
  std::erase(source->loops, rl);
  wake_loop_locked(rl);
  sim().cv.notify_all();
  release_locked(source);
}

Boolean CFRunLoopContainsSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  Lock lock;
  checked(rl, "CFRunLoopContainsSource");
  check_mode(mode, "CFRunLoopContainsSource: only the default and common modes are simulated");
  return std::find(rl->sources.begin(), rl->sources.end(), source) != rl->sources.end();
}

}  // extern "C"
