// The "keymux-macos" worker: one Core Foundation run loop that owns the
// event taps, the Carbon hot-key registrations and the wake source on
// which the runtime's commands arrive.
#include <ApplicationServices/ApplicationServices.h>
#include <CoreFoundation/CoreFoundation.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "hotkeys/diagnostics.h"
#include "hotkeys/hotkey_set.h"
#include "platform/backend.h"
#include "platform/macos/carbon_registrar.h"
#include "platform/macos/mac_taps.h"

namespace kmx::platform {

// Chords and key-state queries need nothing beyond the system's services.
struct DirectContext {};

namespace macos {
namespace {

constexpr const char* BACKEND_NAME = "macos-carbon-coregraphics";
constexpr uint64_t CAPS_TRUSTED = 0xEF;
constexpr uint64_t CAPS_UNTRUSTED = 0x2F;

// Owned by the worker thread and reached from the wake source's context
// pointer while the run loop runs.
struct WorkerState {
  EventSender events;
  MotionChannel motion;
  queue::Receiver<Command> commands;
  std::shared_ptr<SharedCells> cells;
  hotkeys::HotkeySet<CarbonRegistrar> hotkeys;
  std::shared_ptr<WakeHandle> wake;
  MacTaps taps;
  int wake_fd = -1;

  TapContext tap_context() const { return TapContext{events, motion, cells, wake}; }
};

std::string join(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) {
    if (!out.empty()) out += ", ";
    out += t;
  }
  return out;
}

void report_leftovers(const hotkeys::ApplyLeftovers& leftovers) {
  // Stranded registrations are already named in the apply's own outcome.
  if (!leftovers.retained.empty())
    hotkeys::emit_diagnostic(
        "[keymux] macOS hotkeys applied; these obsolete registrations are still active and will be retried: " +
        join(leftovers.retained));
  if (!leftovers.orphaned.empty())
    hotkeys::emit_diagnostic(
        "[keymux] macOS hotkeys applied; these obsolete registrations could not be released and can no longer "
        "be targeted: " +
        join(leftovers.orphaned));
}

void handle_command(WorkerState& state, Command& command) {
  std::visit(
      [&state](auto& cmd) {
        using T = std::decay_t<decltype(cmd)>;
        if constexpr (std::is_same_v<T, Stop>) {
          cmd.ack.send(Ack{});
          // The run loop returns once this callback has drained the rest.
          CFRunLoopStop(CFRunLoopGetCurrent());
        } else if constexpr (std::is_same_v<T, SetRawMask>) {
          cmd.reply.send(state.taps.sync(cmd.mask, state.tap_context()));
        } else {
          CarbonRegistrar registrar(state.events);
          Result<hotkeys::ApplyOutcome> outcome = state.hotkeys.apply(registrar, std::move(cmd.shortcuts));
          if (outcome && outcome->kind == hotkeys::ApplyOutcome::Kind::AppliedWithLeftovers)
            report_leftovers(outcome->leftovers);
          cmd.reply.send(std::move(outcome));
        }
      },
      command);
}

void wake_callback(CFFileDescriptorRef source, CFOptionFlags, void* info) {
  WorkerState& state = *static_cast<WorkerState*>(info);
  unsigned char bytes[64];
  (void)::recv(state.wake_fd, bytes, sizeof bytes, MSG_DONTWAIT);

  while (std::optional<Command> command = state.commands.try_recv()) handle_command(state, *command);

  if (state.cells->reenable.exchange(false, std::memory_order_acq_rel)) state.taps.enable_all();

  // Descriptor sources fire once per enabling.
  CFFileDescriptorEnableCallBacks(source, kCFFileDescriptorReadCallBack);
}

struct WorkerArgs {
  queue::Receiver<Command> commands;
  EventSender events;
  queue::Sender<Status> init;
  uint32_t mask;
  int wake_fd;
  MotionChannel motion;
  std::shared_ptr<WakeHandle> wake;
};

void worker(WorkerArgs args) {
  auto state = std::make_unique<WorkerState>(WorkerState{std::move(args.events),
                                                         std::move(args.motion),
                                                         std::move(args.commands),
                                                         std::make_shared<SharedCells>(args.mask),
                                                         {},
                                                         std::move(args.wake),
                                                         {},
                                                         -1});

  // A failed start releases everything before it reports, so that the
  // creator sees no tap and no descriptor left once it has the error.
  auto fail = [&](KmxError error) {
    state.reset();
    args.init.send(std::move(error));
  };

  if (Status synced = state->taps.sync(args.mask, state->tap_context()); !synced) {
    ::close(args.wake_fd);
    return fail(std::move(synced).error());
  }

  state->wake_fd = args.wake_fd;
  CFFileDescriptorContext context = {0, state.get(), nullptr, nullptr, nullptr};
  CFFileDescriptorRef source = CFFileDescriptorCreate(kCFAllocatorDefault, args.wake_fd, true, wake_callback, &context);
  if (source == nullptr) {
    ::close(args.wake_fd);
    return fail(KmxError::backend("command wake source failed"));
  }
  CFFileDescriptorEnableCallBacks(source, kCFFileDescriptorReadCallBack);
  CFRunLoopSourceRef run_loop_source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, source, 0);
  if (run_loop_source == nullptr) {
    CFFileDescriptorInvalidate(source);  // closes the descriptor
    CFRelease(source);
    return fail(KmxError::backend("command wake source failed"));
  }
  CFRunLoopAddSource(CFRunLoopGetCurrent(), run_loop_source, kCFRunLoopCommonModes);

  args.init.send(Status{});
  CFRunLoopRun();

  state->taps.key_tap.reset();
  state->taps.pointer_tap.reset();
  {
    CarbonRegistrar registrar(state->events);
    state->hotkeys.clear(registrar);
  }
  CFFileDescriptorInvalidate(source);
  CFRelease(run_loop_source);
  CFRelease(source);
  state.reset();
}

// The runtime's wake handle together with a second reading end of the
// wake socket. A worker that ended without Stop has closed its own end; a
// later signal would then write to a socket nobody reads, which raises
// SIGPIPE in the host. This end stays open while the runtime can signal.
struct WakeKeeper {
  WakeKeeper() = default;
  WakeKeeper(const WakeKeeper&) = delete;
  WakeKeeper& operator=(const WakeKeeper&) = delete;
  std::shared_ptr<WakeHandle> handle;
  int reader = -1;
  ~WakeKeeper() {
    if (reader >= 0) ::close(reader);
  }
};

std::shared_ptr<WakeHandle> kept_open(std::shared_ptr<WakeHandle> handle, int reader) {
  if (reader < 0) return handle;
  auto keeper = std::make_shared<WakeKeeper>();  // built in place: a temporary would close the descriptor
  keeper->handle = handle;
  keeper->reader = reader;
  return std::shared_ptr<WakeHandle>(keeper, handle.get());
}

}  // namespace
}  // namespace macos

Result<BackendStart> spawn(uint32_t raw_mask) {
  auto [command_tx, command_rx] = queue::channel<Command>();
  EventPipes pipes = make_event_pipes();
  auto [init_tx, init_rx] = queue::channel<Status>();

  Result<WakeHandle::Created> wake = WakeHandle::create();
  if (!wake) return std::move(wake).error();
  const int wake_fd = static_cast<int>(wake->worker_end);
  // Taken before the worker exists, so that it is surely the wake socket.
  const int spare_reader = ::fcntl(wake_fd, F_DUPFD_CLOEXEC, 0);
  auto close_spare = [spare_reader] {
    if (spare_reader >= 0) ::close(spare_reader);
  };

  macos::WorkerArgs args{
      std::move(command_rx), std::move(pipes.sender), std::move(init_tx), raw_mask, wake_fd, pipes.motion,
      wake->handle};
  Result<WorkerThread> worker =
      WorkerThread::start("keymux-macos", [args = std::move(args)]() mutable { macos::worker(std::move(args)); });
  if (!worker) {
    ::close(wake_fd);
    close_spare();
    return std::move(worker).error();
  }

  auto [init, why] = init_rx.recv(std::nullopt);
  if (!init || !init->ok()) {
    // The worker has reported (or ended) and only returns from here on.
    worker->join();
    close_spare();
    if (!init) return KmxError::backend("macOS backend exited during initialization");
    return std::move(*init).error();
  }

  const uint64_t caps = AXIsProcessTrusted() ? macos::CAPS_TRUSTED : macos::CAPS_UNTRUSTED;
  return BackendStart{std::move(command_tx),
                      std::move(pipes.motion),
                      std::move(pipes.receiver),
                      macos::BACKEND_NAME,
                      macos::kept_open(std::move(wake->handle), spare_reader),
                      caps,
                      std::move(worker).value(),
                      std::make_shared<DirectContext>()};
}

}  // namespace kmx::platform
