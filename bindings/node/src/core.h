// The state shared by a runtime's JavaScript object, its poll thread and the
// worker-pool jobs of its promises. Jobs hold it by shared_ptr, so it outlives
// the JavaScript object while any of them still runs.
#pragma once

#include <keymux/keymux.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "library.h"

namespace keymux_node {

// Outcome of a library call: status and, on failure, the library's text.
struct Outcome {
  KmxStatus status = KMX_OK;
  std::string message;
};

class Core {
 public:
  explicit Core(KmxHandle handle) : handle_(handle) {}

  // Admits a call on the handle unless shutdown began; shutdown waits for
  // every admitted call, since the library must not be entered once it
  // destroys the handle.
  bool enter();
  void leave();
  KmxHandle handle() const { return handle_; }

  // Text of the last failure on the handle; call while admitted.
  Outcome failure(KmxStatus status) const;

  // Stops the runtime, ends the poll thread, waits for admitted calls and
  // destroys the handle. Idempotent; concurrent callers wait for the first.
  void shutdown();
  void begin_shutdown();

  // Poll thread side: events gathered until the JavaScript thread takes them.
  // Returns true when the taker must be woken (nothing was waiting before).
  bool push(const KmxEvent& event);
  bool end_of_events();
  // JavaScript side: takes everything gathered; *ended once the source closed.
  std::vector<KmxEvent> take(bool* ended);

  std::thread poller;

 private:
  KmxHandle handle_;
  std::mutex gate_mutex_;
  std::condition_variable idle_;
  int active_ = 0;
  bool closing_ = false;

  std::mutex shutdown_mutex_;

  std::mutex batch_mutex_;
  std::vector<KmxEvent> batch_;
  bool wake_pending_ = false;
  bool ended_ = false;
};

// Admission for the length of one scope.
class Admission {
 public:
  explicit Admission(Core& core) : core_(core), admitted_(core.enter()) {}
  ~Admission() {
    if (admitted_) core_.leave();
  }
  Admission(const Admission&) = delete;
  Admission& operator=(const Admission&) = delete;
  explicit operator bool() const { return admitted_; }

 private:
  Core& core_;
  bool admitted_;
};

}  // namespace keymux_node
