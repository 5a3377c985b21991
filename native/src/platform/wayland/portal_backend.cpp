// The portal backend for Wayland sessions: spawn and the "keymux-portal"
// worker, which owns a session-bus connection and the GlobalShortcuts
// session, and sleeps in poll on the bus and the wake descriptor.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <variant>

#include "platform/linux/linux_backends.h"
#include "platform/worker_start.h"
#include "platform/wayland/portal_direct.h"
#include "platform/wayland/portal_shortcuts.h"

namespace kmx::platform::portal {

namespace {

// Hot keys (0x1) and chords (0x40, 0x80); raw input and key state do not
// exist for a Wayland client.
constexpr uint64_t PORTAL_CAPABILITIES = 0x01 | 0x40 | 0x80;

using InitResult = Result<void>;

class Worker {
 public:
  Worker(Bus bus, int wake_fd, queue::Receiver<Command> commands, EventSender events)
      : bus_(std::move(bus)),
        wake_fd_(wake_fd),
        commands_(std::move(commands)),
        events_(std::move(events)),
        shortcuts_(bus_.get(), events_, [this] { running_ = false; }) {}

  ~Worker() { ::close(wake_fd_); }

  Result<void> start() { return shortcuts_.subscribe(); }

  void run() {
    while (running_) {
      if (!process_pending(bus_.get())) break;  // the bus went away
      if (!running_) break;
      const int fd = sd_bus_get_fd(bus_.get());
      const int events = sd_bus_get_events(bus_.get());
      uint64_t timeout_us = UINT64_MAX;
      sd_bus_get_timeout(bus_.get(), &timeout_us);
      int timeout_ms = -1;
      if (timeout_us != UINT64_MAX) {
        const uint64_t now = monotonic_us();
        timeout_ms = timeout_us <= now ? 0 : static_cast<int>((timeout_us - now + 999) / 1000);
      }
      pollfd fds[2] = {{fd, static_cast<short>(events < 0 ? POLLIN : events), 0}, {wake_fd_, POLLIN, 0}};
      if (::poll(fds, 2, timeout_ms) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[1].revents & POLLIN) {
        // Portal signals that came before the command are handled first.
        if (!process_pending(bus_.get())) break;
        drain_wake();
        drain_commands();
      }
    }
    // Whatever ended the loop, held hot keys get their release before the queue closes.
    shortcuts_.clear();
  }

 private:
  void drain_wake() {
    char buffer[64];
    while (::read(wake_fd_, buffer, sizeof buffer) > 0) {
    }
  }

  void drain_commands() {
    while (auto command = commands_.try_recv()) {
      std::visit([this](auto& c) { handle(c); }, *command);
    }
  }

  void handle(Stop& stop) {
    shortcuts_.clear();
    stop.ack.send(Ack{});
    running_ = false;
  }

  void handle(SetRawMask& command) {
    if (command.mask == 0) {
      command.reply.send(Status{});
      return;
    }
    command.reply.send(KmxError::unsupported(raw_input_unavailable()));
  }

  void handle(ApplyHotkeys& command) { command.reply.send(shortcuts_.apply(command.shortcuts)); }

  Bus bus_;
  int wake_fd_;
  queue::Receiver<Command> commands_;
  EventSender events_;
  PortalShortcuts shortcuts_;
  bool running_ = true;
};

void worker_body(int wake_fd, queue::Receiver<Command> commands, EventSender events, queue::Sender<InitResult> init) {
  const int flags = ::fcntl(wake_fd, F_GETFL);
  if (flags >= 0) ::fcntl(wake_fd, F_SETFL, flags | O_NONBLOCK);
  auto bus = open_session_bus();
  if (!bus) {
    ::close(wake_fd);
    init.send(std::move(bus).error());
    return;
  }
  Worker worker(std::move(bus.value()), wake_fd, std::move(commands), std::move(events));
  if (auto started = worker.start(); !started) {
    init.send(std::move(started));
    return;
  }
  init.send(InitResult{});
  init.reset();
  worker.run();
}

}  // namespace

std::string raw_input_unavailable() {
  return "raw input is not available in a Wayland session (the wayland-portal backend sees no other client's input)";
}

bool available() {
  auto bus = open_session_bus();
  return bus && interface_version(bus->get(), SHORTCUTS_INTERFACE) >= 1;
}

Result<BackendStart> spawn(uint32_t raw_mask, std::shared_ptr<DirectContext>& direct) {
  if (raw_mask != 0) return KmxError::unsupported(raw_input_unavailable());
  auto direct_bus = open_session_bus();
  if (!direct_bus) return std::move(direct_bus).error();
  if (interface_version(direct_bus->get(), SHORTCUTS_INTERFACE) < 1)
    return KmxError::backend("the desktop portal has no GlobalShortcuts interface on this session bus");
  direct = std::make_shared<DirectContext>(std::move(direct_bus.value()));

  auto wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  const int wake_fd = static_cast<int>(wake->worker_end);

  EventPipes pipes = make_event_pipes();
  auto [command_tx, command_rx] = queue::channel<Command>();
  auto [init_tx, init_rx] = queue::channel<InitResult>();
  auto commands = std::make_shared<queue::Receiver<Command>>(std::move(command_rx));
  auto worker = WorkerThread::start("keymux-portal",
                                    [wake_fd, commands, events = pipes.sender, init = std::move(init_tx)]() mutable {
                                      worker_body(wake_fd, std::move(*commands), std::move(events), std::move(init));
                                    });
  if (!worker) {
    ::close(wake_fd);
    return std::move(worker).error();
  }
  pipes.sender.reset();

  if (auto started = await_worker_start(*worker, init_rx, "portal"); !started) return std::move(started).error();
  BackendStart start{std::move(command_tx), pipes.motion,        std::move(pipes.receiver), "wayland-portal",
                     wake->handle,          PORTAL_CAPABILITIES, std::move(worker.value()), nullptr};
  return start;
}

}  // namespace kmx::platform::portal
