#include "core.h"

namespace keymux_node {

bool Core::enter() {
  std::lock_guard lock(gate_mutex_);
  if (closing_) return false;
  ++active_;
  return true;
}

void Core::leave() {
  std::lock_guard lock(gate_mutex_);
  if (--active_ == 0) idle_.notify_all();
}

Outcome Core::failure(KmxStatus status) const {
  Outcome outcome{status, read_text([this](char* b, size_t c) { return api()->last_error(handle_, b, c); })};
  return outcome;
}

void Core::begin_shutdown() {
  std::lock_guard lock(gate_mutex_);
  closing_ = true;
}

void Core::shutdown() {
  std::lock_guard serial(shutdown_mutex_);
  if (!handle_) return;
  begin_shutdown();
  // Stop releases the poll thread: it takes what is queued, then sees closed.
  api()->stop(handle_);
  if (poller.joinable()) poller.join();
  {
    std::unique_lock lock(gate_mutex_);
    idle_.wait(lock, [this] { return active_ == 0; });
  }
  api()->destroy(handle_);
  handle_ = nullptr;
}

bool Core::push(const KmxEvent& event) {
  std::lock_guard lock(batch_mutex_);
  batch_.push_back(event);
  const bool wake = !wake_pending_;
  wake_pending_ = true;
  return wake;
}

bool Core::end_of_events() {
  std::lock_guard lock(batch_mutex_);
  ended_ = true;
  const bool wake = !wake_pending_;
  wake_pending_ = true;
  return wake;
}

std::vector<KmxEvent> Core::take(bool* ended) {
  std::lock_guard lock(batch_mutex_);
  std::vector<KmxEvent> events;
  events.swap(batch_);
  wake_pending_ = false;
  *ended = ended_;
  return events;
}

}  // namespace keymux_node
