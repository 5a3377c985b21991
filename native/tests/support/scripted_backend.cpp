#include "scripted_backend.h"

#include <poll.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>
#include <variant>

#include "platform/backend.h"

namespace kmx::platform {

struct DirectContext {};

}  // namespace kmx::platform

namespace kmx::scripted {

namespace {

Control* g_control = new Control();

// The running worker's producing ends, for tests that emit from other threads.
std::mutex g_producers_mu;
std::optional<platform::EventSender> g_sender;
std::optional<platform::MotionChannel> g_motion;

void wait_readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, -1) < 0) {
  }
  unsigned char buf[64];
  (void)::read(fd, buf, sizeof buf);
}

template <class Reply>
void answer(queue::Sender<Reply>& reply, Reply value, std::vector<std::function<void()>>& parked) {
  Control& c = control();
  if (const int ms = c.reply_delay_ms.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  if (c.drop_reply.load()) return;
  if (c.never_reply.load()) {
    parked.push_back([keep = std::move(reply)] {});
    return;
  }
  reply.send(std::move(value));
}

Result<hotkeys::ApplyOutcome> default_apply(const model::ShortcutList&) { return hotkeys::ApplyOutcome::applied(); }

void worker(queue::Receiver<platform::Command> commands, platform::EventSender events, platform::MotionChannel motion,
            queue::Sender<Status> init, int wake_fd) {
  Control& c = control();
  c.workers_alive.fetch_add(1);
  struct Close {
    int fd;
    ~Close() {
      ::close(fd);
      control().workers_alive.fetch_sub(1);
    }
  } close_fd{wake_fd};

  if (c.exit_before_report) return;
  if (c.init_error) {
    init.send(*c.init_error);
    return;
  }
  {
    std::lock_guard lock(g_producers_mu);
    g_sender = events;
    g_motion = motion;
  }
  init.send(Status{});
  init.reset();

  std::vector<std::function<void()>> parked;  // replies kept unanswered
  bool running = true;
  while (running) {
    wait_readable(wake_fd);
    while (auto command = commands.try_recv()) {
      c.commands_handled.fetch_add(1);
      if (auto* stop = std::get_if<platform::Stop>(&*command)) {
        stop->ack.send(platform::Ack{});
        running = false;  // commands behind Stop are still handled
      } else if (auto* mask = std::get_if<platform::SetRawMask>(&*command)) {
        Status result = c.on_raw_mask ? c.on_raw_mask(mask->mask) : Status{};
        if (result) {
          std::lock_guard lock(c.mu);
          c.masks.push_back(mask->mask);
        }
        answer(mask->reply, std::move(result), parked);
      } else if (auto* apply = std::get_if<platform::ApplyHotkeys>(&*command)) {
        auto result = c.on_apply ? c.on_apply(apply->shortcuts) : default_apply(apply->shortcuts);
        answer(apply->reply, std::move(result), parked);
      }
    }
  }
  {
    std::lock_guard lock(g_producers_mu);
    g_sender.reset();
    g_motion.reset();
  }
  if (c.fault_at_shutdown) throw std::runtime_error("scripted fault at shutdown");
}

}  // namespace

Control& control() { return *g_control; }

void reset() {
  delete g_control;
  g_control = new Control();
}

bool emit(const KmxEvent& event) {
  std::lock_guard lock(g_producers_mu);
  return g_sender && g_sender->send(event);
}

bool emit_motion(const KmxEvent& event) {
  std::lock_guard lock(g_producers_mu);
  if (!g_motion) return false;
  g_motion->store(event);
  return true;
}

}  // namespace kmx::scripted

namespace kmx::platform {

Result<BackendStart> spawn(uint32_t raw_mask) {
  auto pipes = make_event_pipes();
  auto [command_tx, command_rx] = queue::channel<Command>();
  auto wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  auto [init_tx, init_rx] = queue::channel<Status>();
  {
    auto& c = scripted::control();
    std::lock_guard lock(c.mu);
    c.masks.push_back(raw_mask);
  }
  const int fd = static_cast<int>(wake->worker_end);
  auto thread = WorkerThread::start(
      "keymux-scripted", [rx = std::move(command_rx), events = pipes.sender, motion = pipes.motion,
                          init = std::move(init_tx), fd]() mutable {
        scripted::worker(std::move(rx), std::move(events), std::move(motion), std::move(init), fd);
      });
  if (!thread) return std::move(thread).error();
  pipes.sender.reset();

  auto [reported, why] = init_rx.recv(std::nullopt);
  if (!reported) return KmxError::backend("scripted backend exited during initialization");
  if (!*reported) return std::move(*reported).error();

  BackendStart start;
  start.commands = std::move(command_tx);
  start.motion = pipes.motion;
  start.events = std::move(pipes.receiver);
  start.name = "scripted";
  start.wake = wake->handle;
  start.capabilities = scripted::control().capabilities;
  start.worker = std::move(thread).value();
  start.direct = std::make_shared<DirectContext>();
  return start;
}

Status send_chord(DirectContext&, std::span<const uint32_t> modifiers, uint32_t key) {
  auto& c = scripted::control();
  return c.on_chord ? c.on_chord(modifiers, key) : Status{};
}

Result<std::vector<bool>> is_key_down_many(DirectContext&, std::span<const uint32_t> usages) {
  auto& c = scripted::control();
  if (c.on_key_state) return c.on_key_state(usages);
  return std::vector<bool>(usages.size(), false);
}

}  // namespace kmx::platform
