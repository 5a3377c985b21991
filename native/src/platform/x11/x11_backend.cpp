// The X11 backend: spawn and the "keymux-x11" worker, which owns its own
// display connections, the raw-input selection and the hot-key grabs, and
// sleeps in poll on those connections and the wake descriptor.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <variant>

#include "hotkeys/hotkey_set.h"
#include "platform/x11/x11_direct.h"
#include "platform/x11/x11_hotkeys.h"
#include "platform/x11/x11_raw_input.h"

namespace kmx::platform::x11 {

namespace {

constexpr uint64_t ALL_CAPABILITIES = 0xEF;
constexpr uint64_t INJECTION_CAPABILITIES = 0x40 | 0x80;

using InitResult = Result<void>;

std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : ", ") + t;
  return out;
}

// The worker holds two connections. X withholds raw events from the client
// whose grab is active, so the grabs live on one connection and the raw
// selection on the other; raw input then sees keys typed during a hot key.
class Worker {
 public:
  Worker(Display* grab_display, Display* raw_display, int wake_fd, queue::Receiver<Command> commands,
         EventSender events, MotionChannel motion, std::shared_ptr<x11::InjectionLedger> ledger)
      : grab_display_(grab_display),
        raw_display_(raw_display),
        wake_fd_(wake_fd),
        commands_(std::move(commands)),
        events_(events),
        raw_(raw_display, std::move(events), std::move(motion), std::move(ledger),
             [this](unsigned keycode) { key_released(keycode); }),
        locks_(x11::lock_masks(grab_display)) {}

  ~Worker() {
    // Teardown: ungrab everything, then close the connections, which also
    // ends every event selection.
    x11::X11Registrar registrar(grab_display_, grabs_);
    hotkeys_.clear(registrar);
    XCloseDisplay(grab_display_);
    XCloseDisplay(raw_display_);
    ::close(wake_fd_);
  }

  Result<void> start(uint32_t raw_mask) {
    int supported = 0;
    // Holding a hot key then gives one press and one release.
    XkbSetDetectableAutoRepeat(grab_display_, True, &supported);
    return raw_.sync(raw_mask);
  }

  void run() {
    while (running_) {
      handle_x_events();
      if (!running_) break;
      pollfd fds[3] = {{ConnectionNumber(grab_display_), POLLIN, 0},
                       {ConnectionNumber(raw_display_), POLLIN, 0},
                       {wake_fd_, POLLIN, 0}};
      if (::poll(fds, 3, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[2].revents & POLLIN) {
        drain_wake();
        drain_commands();
      }
    }
  }

 private:
  void drain_wake() {
    char buffer[64];
    while (::read(wake_fd_, buffer, sizeof buffer) > 0) {
    }
  }

  void handle_x_events() {
    do {
      handle_raw_events();
      handle_grab_events();
      raw_.flush_motion();
      // A reply read above may have queued events that poll would not see.
    } while (XQLength(raw_display_) > 0 || XQLength(grab_display_) > 0);
  }

  void handle_raw_events() {
    while (XPending(raw_display_) > 0) {
      XEvent event;
      XNextEvent(raw_display_, &event);
      if (!raw_.handle(event) && event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    }
  }

  void handle_grab_events() {
    while (XPending(grab_display_) > 0) {
      XEvent event;
      XNextEvent(grab_display_, &event);
      switch (event.type) {
        case KeyPress:
        case KeyRelease:
          if (auto e = grabs_.on_key(event.type == KeyPress, event.xkey.keycode, event.xkey.state, locks_.all()))
            events_.send(*e);
          break;
        case MappingNotify:
          XRefreshKeyboardMapping(&event.xmapping);
          locks_ = x11::lock_masks(grab_display_);
          break;
        default:
          break;
      }
    }
  }

  // Raw releases end held hot keys whose grab is over: a grab ends with the
  // release of the key that began it, so a second hot key held across it
  // would otherwise never see its own release.
  void key_released(unsigned keycode) {
    if (!grabs_.empty()) {
      // Hot-key presses that came before this release in server order may
      // still wait on the grab connection; one round trip brings them in.
      XSync(grab_display_, False);
      handle_grab_events();
    }
    if (auto e = grabs_.on_key(false, keycode, 0, locks_.all())) events_.send(*e);
  }

  void drain_commands() {
    while (auto command = commands_.try_recv()) {
      std::visit([this](auto& c) { handle(c); }, *command);
    }
  }

  void handle(Stop& stop) {
    stop.ack.send(Ack{});
    running_ = false;  // commands queued behind Stop are still handled in this drain
  }

  void handle(SetRawMask& command) { command.reply.send(raw_.sync(command.mask)); }

  void handle(ApplyHotkeys& command) {
    x11::X11Registrar registrar(grab_display_, grabs_);
    auto result = hotkeys_.apply(registrar, std::move(command.shortcuts));
    if (result && result->kind == hotkeys::ApplyOutcome::Kind::AppliedWithLeftovers) {
      const hotkeys::ApplyLeftovers& left = result->leftovers;
      if (!left.retained.empty())
        std::fprintf(stderr,
                     "[keymux] X11 hotkeys applied; these obsolete registrations are still active and will be "
                     "retried: %s\n",
                     joined(left.retained).c_str());
      if (!left.orphaned.empty())
        std::fprintf(stderr,
                     "[keymux] X11 hotkeys applied; these obsolete registrations could not be released and can no "
                     "longer be targeted: %s\n",
                     joined(left.orphaned).c_str());
    }
    command.reply.send(std::move(result));
  }

  Display* grab_display_;
  Display* raw_display_;
  int wake_fd_;
  queue::Receiver<Command> commands_;
  EventSender events_;
  x11::X11RawInput raw_;
  x11::GrabTable grabs_;
  x11::LockMasks locks_;
  hotkeys::HotkeySet<x11::X11Registrar> hotkeys_;
  bool running_ = true;
};

void worker_body(int wake_fd, uint32_t raw_mask, queue::Receiver<Command> commands, EventSender events,
                 MotionChannel motion, std::shared_ptr<x11::InjectionLedger> ledger, queue::Sender<InitResult> init) {
  const int flags = ::fcntl(wake_fd, F_GETFL);
  if (flags >= 0) ::fcntl(wake_fd, F_SETFL, flags | O_NONBLOCK);
  auto grab_display = x11::open_display();
  if (!grab_display) {
    ::close(wake_fd);
    init.send(std::move(grab_display).error());
    return;
  }
  auto raw_display = x11::open_display();
  if (!raw_display) {
    XCloseDisplay(grab_display.value());
    ::close(wake_fd);
    init.send(std::move(raw_display).error());
    return;
  }
  Worker worker(grab_display.value(), raw_display.value(), wake_fd, std::move(commands), std::move(events),
                std::move(motion), std::move(ledger));
  if (auto started = worker.start(raw_mask); !started) {
    init.send(std::move(started));
    return;
  }
  init.send(InitResult{});
  init.reset();
  worker.run();
}

}  // namespace

Result<BackendStart> spawn(uint32_t raw_mask, std::shared_ptr<DirectContext>& direct_out) {
  static std::once_flag threads_once;
  std::call_once(threads_once, [] { XInitThreads(); });

  auto direct_display = x11::open_display();
  if (!direct_display) return std::move(direct_display).error();
  Display* display = direct_display.value();
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  const bool has_xtest = XTestQueryExtension(display, &event_base, &error_base, &major, &minor);
  auto ledger = std::make_shared<x11::InjectionLedger>();
  auto direct = std::make_shared<DirectContext>(display, has_xtest, ledger);

  auto wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  const int wake_fd = static_cast<int>(wake->worker_end);

  EventPipes pipes = make_event_pipes();
  auto [command_tx, command_rx] = queue::channel<Command>();
  auto [init_tx, init_rx] = queue::channel<InitResult>();

  // The receivers move into the thread through shared state the lambda owns.
  auto commands = std::make_shared<queue::Receiver<Command>>(std::move(command_rx));
  auto worker = WorkerThread::start("keymux-x11", [wake_fd, raw_mask, commands, events = pipes.sender,
                                                   motion = pipes.motion, ledger, init = std::move(init_tx)]() mutable {
    worker_body(wake_fd, raw_mask, std::move(*commands), std::move(events), std::move(motion), std::move(ledger),
                std::move(init));
  });
  if (!worker) {
    ::close(wake_fd);
    return std::move(worker).error();
  }
  pipes.sender.reset();

  auto [init, why] = init_rx.recv(std::nullopt);
  if (!init) {
    worker->join();
    return KmxError::backend("X11 backend exited during initialization");
  }
  if (!*init) {
    worker->join();
    return std::move(*init).error();
  }

  const uint64_t capabilities = (has_xtest && x11::X11RawInput::xinput2_opcode(display) >= 0)
                                    ? ALL_CAPABILITIES
                                    : ALL_CAPABILITIES & ~INJECTION_CAPABILITIES;

  direct_out = std::move(direct);
  BackendStart start{std::move(command_tx), pipes.motion, std::move(pipes.receiver), "x11",
                     wake->handle,          capabilities, std::move(worker.value()), nullptr};
  return start;
}

}  // namespace kmx::platform::x11
