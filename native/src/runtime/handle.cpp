#include "runtime/handle.h"

#include <algorithm>
#include <cstdio>

#include "model/shortcut_validation.h"
#include "platform/process_generation.h"
#include "runtime/poll.h"

namespace kmx::runtime {

namespace {

// The single-runtime slot: the generation (plus one) of the process whose
// runtime holds it, 0 when free. A forked child may create its own runtime
// beside the one it inherited, which is its parent's.
std::atomic<uint64_t> SLOT_OWNER{0};

uint64_t slot_value() noexcept { return platform::process_generation() + 1; }

bool claim_slot() noexcept {
  const uint64_t mine = slot_value();
  uint64_t seen = SLOT_OWNER.load();
  do {
    if (seen == mine) return false;
  } while (!SLOT_OWNER.compare_exchange_weak(seen, mine));
  return true;
}

void free_slot() noexcept {
  uint64_t mine = slot_value();
  SLOT_OWNER.compare_exchange_strong(mine, 0);
}

constexpr const char* WORKER_FAULT_TEXT = "native backend thread panicked during shutdown";

KmxError abi_mismatch(uint32_t caller) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "ABI mismatch: caller=0x%08x, native=0x%08x", caller, ABI_VERSION);
  return KmxError::invalid_argument(buf);
}

KmxError unknown_mask_bits(uint32_t mask) {
  return KmxError::invalid_argument("unknown raw mask bits " + error::hex(mask & ~RAW_MASK_BITS));
}

// Sends a command built around a fresh reply channel, wakes the worker and
// waits for the reply.
template <class Reply, class MakeCommand>
Reply exchange(const queue::Sender<platform::Command>& commands, platform::WakeHandle& wake,
               std::chrono::milliseconds timeout, MakeCommand make) {
  auto [reply_tx, reply_rx] = queue::channel<Reply>();
  if (!commands.send(make(std::move(reply_tx)))) return KmxError::closed();
  wake.signal();
  auto [reply, why] = reply_rx.recv(queue::Clock::now() + timeout);
  if (reply) return std::move(*reply);
  return why == queue::RecvError::Timeout ? KmxError::timeout() : KmxError::closed();
}

}  // namespace

bool instance_active() noexcept { return SLOT_OWNER.load() == slot_value(); }

Result<Handle*> Handle::create(uint32_t abi_version, uint32_t raw_mask, Timeouts timeouts) {
  if (abi_version != ABI_VERSION) return abi_mismatch(abi_version);
  if (raw_mask & ~RAW_MASK_BITS) return unknown_mask_bits(raw_mask);
  if (!claim_slot()) return KmxError::backend("only one keymux runtime may be active in a process");
  auto started = platform::spawn(raw_mask);
  if (!started) {
    free_slot();
    return std::move(started).error();
  }
  return new Handle(std::move(started).value(), timeouts);
}

Handle::Handle(platform::BackendStart start, Timeouts timeouts)
    : commands_(std::move(start.commands)),
      motion_(std::move(start.motion)),
      events_(std::move(start.events)),
      backend_name_(std::move(start.name)),
      wake_(std::move(start.wake)),
      direct_(std::move(start.direct)),
      capabilities_(start.capabilities),
      timeouts_(timeouts),
      generation_(platform::process_generation()),
      worker_(std::move(start.worker)) {}

Handle::~Handle() = default;

bool Handle::inherited() const noexcept { return generation_ != platform::process_generation(); }

void Handle::destroy(Handle* handle) noexcept {
  if (!handle) return;
  // A runtime inherited through fork is the parent's: its worker is not in
  // this process, and its connections, locks and queues are shared with or
  // copied from the parent mid-use. It is left as it is (a small leak in the
  // child) rather than stopped, joined or closed.
  if (handle->inherited()) return;
  handle->gate_.lock();
  handle->run_stop();
  handle->gate_.unlock();
  free_slot();
  delete handle;
}

uint32_t Handle::stop() { return inherited() ? 0 : run_stop(); }

uint32_t Handle::run_stop() {
  if (stopped_.exchange(true)) return 0;
  auto [ack_tx, ack_rx] = queue::channel<platform::Ack>();
  commands_.send(platform::Stop{std::move(ack_tx)});  // a failed send is ignored
  wake_->signal();
  (void)ack_rx.recv(queue::Clock::now() + timeouts_.stop_ack);

  std::optional<platform::WorkerThread> worker;
  {
    std::lock_guard lock(worker_mu_);
    worker.swap(worker_);
  }
  if (worker && worker->join()) {
    set_last_error_text(WORKER_FAULT_TEXT);
    return 2;
  }
  return 0;
}

Status Handle::set_raw_mask(uint32_t mask) {
  if (stopped_.load() || inherited()) return KmxError::closed();
  if (mask & ~RAW_MASK_BITS) return unknown_mask_bits(mask);
  return exchange<Status>(commands_, *wake_, timeouts_.raw_mask, [mask](queue::Sender<Status> reply) {
    return platform::Command(platform::SetRawMask{mask, std::move(reply)});
  });
}

Result<hotkeys::ApplyOutcome> Handle::apply_hotkeys(model::ShortcutList shortcuts) {
  if (stopped_.load() || inherited()) return KmxError::closed();
  if (auto valid = model::validate_shortcuts(shortcuts); !valid) return std::move(valid).error();

  using Reply = Result<hotkeys::ApplyOutcome>;
  Reply result = exchange<Reply>(commands_, *wake_, timeouts_.apply, [&shortcuts](queue::Sender<Reply> reply) {
    return platform::Command(platform::ApplyHotkeys{std::move(shortcuts), std::move(reply)});
  });

  std::vector<std::string> leftovers;
  if (result && result->kind == hotkeys::ApplyOutcome::Kind::AppliedWithLeftovers) {
    const auto& l = result->leftovers;
    leftovers.insert(leftovers.end(), l.retained.begin(), l.retained.end());
    leftovers.insert(leftovers.end(), l.orphaned.begin(), l.orphaned.end());
    leftovers.insert(leftovers.end(), l.stranded.begin(), l.stranded.end());
    std::sort(leftovers.begin(), leftovers.end());
    leftovers.erase(std::unique(leftovers.begin(), leftovers.end()), leftovers.end());
  }
  // Describes the last apply that reached the worker: empty after Applied
  // and after every failed exchange.
  std::lock_guard lock(leftovers_mu_);
  leftovers_ = std::move(leftovers);
  return result;
}

Status Handle::send_chord(std::span<const uint32_t> modifiers, uint32_t key) {
  if (stopped_.load() || inherited()) return KmxError::closed();
  return platform::send_chord(*direct_, modifiers, key);
}

Result<std::vector<bool>> Handle::is_key_down_many(std::span<const uint32_t> usages) {
  if (stopped_.load() || inherited()) return KmxError::closed();
  return platform::is_key_down_many(*direct_, usages);
}

uint32_t Handle::poll_event(KmxEvent* out, uint32_t timeout_ms) {
  if (inherited()) return KMX_ERR_CLOSED;  // the parent's worker fills that queue, not this process
  return runtime::poll_event(events_, motion_, out, timeout_ms);
}

uint32_t Handle::set_error(const KmxError& error) {
  // An inherited runtime's locks may have been held at the fork.
  if (inherited()) return error.status();
  set_last_error_text(error.display());
  return error.status();
}

void Handle::set_last_error_text(std::string text) {
  std::lock_guard lock(last_error_mu_);
  last_error_ = std::move(text);
}

std::string Handle::last_error() const {
  if (inherited()) return KmxError::closed().display();
  std::lock_guard lock(last_error_mu_);
  return last_error_;
}

std::string Handle::leftovers_text() const {
  if (inherited()) return {};
  std::lock_guard lock(leftovers_mu_);
  std::string out;
  for (size_t i = 0; i < leftovers_.size(); ++i) {
    if (i) out += '\n';
    out += leftovers_[i];
  }
  return out;
}

namespace {

std::mutex& init_error_mu() {
  static std::mutex mu;
  return mu;
}

std::string& init_error_text() {
  static std::string LAST_INIT_ERROR;
  return LAST_INIT_ERROR;
}

}  // namespace

uint32_t set_init_error(const KmxError& error) {
  {
    std::lock_guard lock(init_error_mu());
    init_error_text() = error.display();
  }
  if (error.kind() == KmxError::Kind::InvalidArgument) {
    return error.message().rfind("ABI mismatch", 0) == 0 ? KMX_ERR_ABI_MISMATCH : KMX_ERR_INVALID_ARGUMENT;
  }
  return error.status();
}

std::string last_init_error() {
  std::lock_guard lock(init_error_mu());
  return init_error_text();
}

}  // namespace kmx::runtime
