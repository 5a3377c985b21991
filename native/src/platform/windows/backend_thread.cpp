// The Windows backend thread: owns the hooks, the hidden hot-key window and
// the message loop they need, and carries out the runtime's commands.
//
// It sleeps in one wait that ends for thread messages (hook callbacks,
// WM_HOTKEY) or for the wake event. Messages never read the command queue;
// only the wake event does, so hook traffic cannot reorder commands. Before
// it carries out commands it handles the messages and edges that arrived
// first, so that a command sees the hot keys as the user left them.
//
// Being the hooks' thread, it never blocks: no writes to standard error
// (see diagnostics.h), no joins and no waits inside a callback.
#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>

#include "model/event.h"
#include "platform/backend.h"
#include "platform/windows/diagnostics.h"
#include "platform/windows/direct_context.h"
#include "platform/windows/hooks.h"
#include "platform/windows/hotkey_manager.h"
#include "platform/windows/hotkey_router.h"
#include "platform/windows/stats.h"
#include "platform/windows/win_registrar.h"

namespace kmx::platform {

namespace {

using windows::HotkeyEdge;

constexpr uint64_t CAPABILITIES = 239;
// How long the end of a backend waits for its last diagnostics to be
// written; a stuck standard error costs kmx_stop no more than this.
constexpr uint32_t FINAL_FLUSH_MS = 500;
std::atomic<uint8_t> HANDLER_INSTALLED{0};

// Everything spawn hands to the thread.
struct ThreadInputs {
  queue::Receiver<Command> commands;
  EventSender events;
  MotionChannel motion;
  queue::Sender<HotkeyEdge> edge_sender;
  queue::Receiver<HotkeyEdge> edges;
  // Empty when the thread started; otherwise the text of its Backend error
  // (every start failure is one).
  queue::Sender<std::string> init;
  HANDLE wake = nullptr;            // waited on, owned by the runtime
  HANDLE wake_duplicate = nullptr;  // owned by the thread, then the router
  uint32_t raw_mask = 0;
};

class BackendThread {
 public:
  explicit BackendThread(ThreadInputs in) : in_(std::move(in)) {}

  void run() {
    if (HANDLER_INSTALLED.exchange(1) == 0) windows::HotkeyManager::set_handler(&windows::HotkeyRouter::route);

    auto manager = windows::HotkeyManager::create();
    if (!manager) {
      fail_start(std::move(manager).error());
      return;
    }
    manager_ = std::move(manager.value());
    if (Status s = windows::sync_hooks(hooks_, in_.raw_mask, in_.events, in_.motion); !s) {
      fail_start(std::move(s).error());
      return;
    }
    windows::HotkeyRouter::fill(std::move(in_.edge_sender), std::exchange(in_.wake_duplicate, nullptr));
    registrar_.emplace(*manager_);
    in_.init.send(std::string());
    in_.init.reset();

    started_ = true;
    loop();
    leave();
  }

  // Also on the way out of a fault: the router slot and the hooks must not
  // outlive the thread.
  ~BackendThread() {
    if (started_) leave();
  }
  BackendThread(const BackendThread&) = delete;
  BackendThread& operator=(const BackendThread&) = delete;

 private:
  void fail_start(KmxError error) {
    in_.init.send(error.message());
    windows::remove_hooks(hooks_);
    manager_.reset();
    if (in_.wake_duplicate != nullptr) ::CloseHandle(in_.wake_duplicate);
  }

  void loop() {
    bool running = true;
    while (running) {
      const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &in_.wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (r == WAIT_OBJECT_0 + 1) {
        windows::count(windows::STATS.wakes);
        pump_messages();
        drain_edges();
      } else if (r == WAIT_OBJECT_0) {
        windows::count(windows::STATS.wakes);
        pump_messages();
        drain_edges();
        running = drain_commands();
      } else {
        return;  // the wait failed; later commands time out in the runtime
      }
    }
  }

  void pump_messages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }

  // Carries out every queued command; false once a Stop was among them.
  // Commands queued behind a Stop still run.
  bool drain_commands() {
    bool running = true;
    while (auto command = in_.commands.try_recv()) {
      windows::count(windows::STATS.commands);
      std::visit(
          [&](auto& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, ApplyHotkeys>) {
              auto outcome = registrar_->apply(c.shortcuts);
              release_lost_holds();  // before the reply: the host sees them first
              c.reply.send(std::move(outcome));
            } else if constexpr (std::is_same_v<T, SetRawMask>) {
              c.reply.send(windows::sync_hooks(hooks_, c.mask, in_.events, in_.motion));
            } else {
              c.ack.send(Ack{});
              running = false;
            }
          },
          *command);
    }
    return running;
  }

  // A press is reported once per hold and its release only after it, under
  // the shortcut id the press carried.
  void drain_edges() {
    while (auto edge = in_.edges.try_recv()) {
      if (edge->pressed) {
        const auto* entry = registrar_->find(edge->id);
        if (entry == nullptr || held_.contains(edge->id)) continue;
        held_.emplace(edge->id, entry->shortcut_id);
        in_.events.send(model::hotkey_event(entry->shortcut_id, true));
      } else if (auto it = held_.find(edge->id); it != held_.end()) {
        in_.events.send(model::hotkey_event(it->second, false));
        held_.erase(it);
      }
    }
  }

  // A held hot key whose registration went away, or moved to another
  // shortcut id, is released now; the later edge from the key finds no
  // hold and produces nothing.
  void release_lost_holds() {
    for (auto it = held_.begin(); it != held_.end();) {
      const auto* entry = registrar_->find(it->first);
      if (entry != nullptr && entry->shortcut_id == it->second) {
        ++it;
        continue;
      }
      in_.events.send(model::hotkey_event(it->second, false));
      it = held_.erase(it);
    }
  }

  void leave() noexcept {
    started_ = false;
    try {
      for (const auto& [id, shortcut_id] : held_) in_.events.send(model::hotkey_event(shortcut_id, false));
      held_.clear();
    } catch (...) {
    }
    windows::HotkeyRouter::clear();
    windows::remove_hooks(hooks_);
    windows::print_stats_if_requested();
    registrar_->release_all();
    registrar_.reset();
    manager_.reset();
    windows::flush_diagnostics(FINAL_FLUSH_MS);
  }

  ThreadInputs in_;
  windows::HookSlots hooks_;
  std::unique_ptr<windows::HotkeyManager> manager_;
  std::optional<windows::WinRegistrar> registrar_;
  std::unordered_map<uint32_t, uint64_t> held_;  // hot-key id to the shortcut id of its reported press
  bool started_ = false;
};

}  // namespace

Result<BackendStart> spawn(uint32_t raw_mask) {
  auto [command_tx, command_rx] = queue::channel<Command>();
  EventPipes pipes = make_event_pipes();
  auto [edge_tx, edge_rx] = queue::channel<HotkeyEdge>();
  auto [init_tx, init_rx] = queue::channel<std::string>();

  auto wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  HANDLE event = reinterpret_cast<HANDLE>(wake->worker_end);
  auto duplicate = windows::duplicate_event(event);
  if (!duplicate) return std::move(duplicate).error();  // the wake handle closes the event

  ThreadInputs inputs{std::move(command_rx),
                      pipes.sender,
                      pipes.motion,
                      std::move(edge_tx),
                      std::move(edge_rx),
                      std::move(init_tx),
                      event,
                      *duplicate,
                      raw_mask};
  auto worker =
      WorkerThread::start("keymux-win32", [inputs = std::make_unique<ThreadInputs>(std::move(inputs))]() mutable {
        // The thread's queue ends go when run() returns, which closes the event queue.
        BackendThread(std::move(*inputs)).run();
        inputs.reset();
      });
  if (!worker) {
    ::CloseHandle(*duplicate);
    return std::move(worker).error();
  }

  // After a failed start the thread is joined, so that no code of the
  // library runs once kmx_create has returned and the host may unload it.
  auto [result, why] = init_rx.recv(std::nullopt);
  if (!result) {
    worker->join();
    return KmxError::backend("Windows backend exited during initialization");
  }
  if (!result->empty()) {
    worker->join();
    return KmxError::backend(*result);
  }

  return BackendStart{std::move(command_tx),     std::move(pipes.motion),
                      std::move(pipes.receiver), "win32",
                      std::move(wake->handle),   CAPABILITIES,
                      std::move(worker.value()), std::make_shared<DirectContext>()};
}

}  // namespace kmx::platform
