#include "scripted_backend.h"

#include <poll.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <stdexcept>
#include <thread>
#include <variant>

#include "hotkeys/hotkey_set.h"
#include "model/event.h"
#include "model/keys.h"
#include "model/unicode_trim.h"
#include "platform/backend.h"
#include "platform/held_hotkeys.h"
#include "platform/worker_start.h"

namespace kmx::platform {

struct DirectContext {};

}  // namespace kmx::platform

namespace kmx::scripted {

namespace {

Control* g_control = new Control();

std::mutex g_registry_mu;
std::map<std::string, uint64_t> g_registry;  // canonical text -> shortcut id

// The running worker's producing ends, for tests that emit from other
// threads, and the desktop's key events waiting for the worker.
std::mutex g_producers_mu;
std::optional<platform::EventSender> g_sender;
std::optional<platform::MotionChannel> g_motion;
std::shared_ptr<platform::WakeHandle> g_wake;
struct DesktopKey {
  std::string canonical;
  bool down;
};
std::deque<DesktopKey> g_desktop_keys;
std::optional<WorkerEnd> g_end;

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

// A registrar over a simulated desktop: canonical text is the pieces
// between "+" trimmed and ASCII-lower-cased.
struct ScriptedRegistrar {
  using Handle = std::string;  // canonical text

  std::string normalize(const std::string& text) {
    std::string out;
    size_t start = 0;
    for (;;) {
      const size_t plus = text.find('+', start);
      std::string piece(model::trim_white_space(std::string_view(text).substr(start, plus - start)));
      for (char& ch : piece)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      out += piece;
      if (plus == std::string::npos) return out;
      out += '+';
      start = plus + 1;
    }
  }

  Result<Handle> register_hotkey(const std::string& text, uint64_t id) {
    Control& c = control();
    for (const auto& refused : c.refuse_register)
      if (refused == text) return KmxError::backend("hotkey already registered");
    std::string canonical = normalize(text);
    std::lock_guard lock(g_registry_mu);
    g_registry[canonical] = id;
    return canonical;
  }

  hotkeys::ReleaseResult<Handle> release(Handle canonical) {
    for (const auto& refused : control().refuse_release)
      if (refused == canonical) return hotkeys::ReleaseResult<Handle>::given_back(KmxError::backend("busy"), canonical);
    std::lock_guard lock(g_registry_mu);
    g_registry.erase(canonical);
    return hotkeys::ReleaseResult<Handle>::released();
  }
};

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

  hotkeys::HotkeySet<ScriptedRegistrar> hotkey_set;
  ScriptedRegistrar registrar;
  platform::HeldHotkeys<std::string> held(events);
  // However the worker ends, its hot keys go, a held one with its release,
  // and the queues close.
  struct Teardown {
    hotkeys::HotkeySet<ScriptedRegistrar>& set;
    ScriptedRegistrar& registrar;
    platform::HeldHotkeys<std::string>& held;
    ~Teardown() {
      set.clear(registrar);
      held.release_all();
      std::lock_guard lock(g_producers_mu);
      g_sender.reset();
      g_motion.reset();
      g_wake.reset();
      g_desktop_keys.clear();
    }
  } teardown{hotkey_set, registrar, held};

  auto handle_desktop_keys = [&] {
    std::deque<DesktopKey> keys;
    {
      std::lock_guard lock(g_producers_mu);
      keys.swap(g_desktop_keys);
    }
    for (const DesktopKey& key : keys) {
      if (!key.down) {
        held.release(key.canonical);
      } else if (auto it = hotkey_set.active().find(key.canonical); it != hotkey_set.active().end()) {
        held.press(key.canonical, it->second.id);
      }
    }
  };
  auto still_registered = [&](const std::string& canonical, uint64_t id) {
    auto it = hotkey_set.active().find(canonical);
    return it != hotkey_set.active().end() && it->second.id == id;
  };

  std::vector<std::function<void()>> parked;  // replies kept unanswered
  bool running = true;
  while (running) {
    wait_readable(wake_fd);
    handle_desktop_keys();
    std::optional<WorkerEnd> end;
    {
      std::lock_guard lock(g_producers_mu);
      end.swap(g_end);
    }
    if (end == WorkerEnd::ByFault) throw std::runtime_error("scripted fault");
    if (end == WorkerEnd::Quietly) return;
    while (auto command = commands.try_recv()) {
      // Desktop events that came before this command are handled first.
      handle_desktop_keys();
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
        auto result =
            c.on_apply ? c.on_apply(apply->shortcuts) : hotkey_set.apply(registrar, std::move(apply->shortcuts));
        held.release_unless(still_registered);
        answer(apply->reply, std::move(result), parked);
      }
    }
  }
  if (c.fault_at_shutdown) throw std::runtime_error("scripted fault at shutdown");
}

// The canonical text of a typed chord, as the scripted registrar writes it.
std::string chord_canonical(std::span<const uint32_t> modifiers, uint32_t key) {
  static const char* const ROLES[] = {"ctrl", "shift", "alt", "meta"};
  bool present[4] = {};
  for (uint32_t usage : modifiers) present[(usage - 0xE0) % 4] = true;
  std::string out;
  for (int role = 0; role < 4; ++role) {
    if (present[role]) out += std::string(ROLES[role]) + "+";
  }
  const model::KeyRow* row = model::any_by_usage(key);
  for (char ch : row ? row->name : std::string_view("?")) {
    out += (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
  }
  return out;
}

}  // namespace

Control& control() { return *g_control; }

void reset() {
  {
    std::lock_guard lock(g_registry_mu);
    g_registry.clear();
  }
  delete g_control;
  g_control = new Control();
}

std::vector<std::string> registered() {
  std::lock_guard lock(g_registry_mu);
  std::vector<std::string> out;
  for (const auto& [canonical, id] : g_registry) out.push_back(canonical);
  return out;
}

bool trigger_hotkey(const std::string& canonical, bool down) {
  std::lock_guard lock(g_producers_mu);
  if (!g_sender || !g_wake) return false;
  g_desktop_keys.push_back({canonical, down});
  g_wake->signal();
  return true;
}

void end_worker(WorkerEnd how) {
  {
    std::lock_guard lock(g_producers_mu);
    if (!g_wake) return;
    g_end = how;
    g_wake->signal();
  }
  while (control().workers_alive.load() > 0) std::this_thread::yield();
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
  {
    std::lock_guard lock(scripted::g_producers_mu);
    scripted::g_wake = wake->handle;
  }
  const int fd = static_cast<int>(wake->worker_end);
  auto thread = WorkerThread::start(
      "keymux-scripted",
      [rx = std::move(command_rx), events = pipes.sender, motion = pipes.motion, init = std::move(init_tx),
       fd]() mutable { scripted::worker(std::move(rx), std::move(events), std::move(motion), std::move(init), fd); });
  if (!thread) {
    std::lock_guard lock(scripted::g_producers_mu);
    scripted::g_wake.reset();
    return std::move(thread).error();
  }
  pipes.sender.reset();

  // A worker that failed or vanished is joined, so it never outlives the
  // state the next test sets up.
  Status started = await_worker_start(*thread, init_rx, "scripted");
  if (!started) {
    std::lock_guard lock(scripted::g_producers_mu);
    scripted::g_wake.reset();
    return std::move(started).error();
  }

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
  if (c.on_chord) return c.on_chord(modifiers, key);
  const std::string typed = scripted::chord_canonical(modifiers, key);
  scripted::trigger_hotkey(typed, true);
  scripted::trigger_hotkey(typed, false);
  return Status{};
}

Result<std::vector<bool>> is_key_down_many(DirectContext&, std::span<const uint32_t> usages) {
  auto& c = scripted::control();
  if (c.on_key_state) return c.on_key_state(usages);
  return std::vector<bool>(usages.size(), false);
}

}  // namespace kmx::platform
