// Hot keys whose press reached the host and whose release has not yet.
// Every press the host sees gets exactly one release, also when the
// registration goes away while the key is down (an apply drops or moves
// it, a clear, the worker's end): the release is delivered at that moment
// and the physical release that comes later is dropped. A host's
// push-to-talk can then never stay "held".
//
// Key names one registered combination the way the backend recognises it
// in its key events: canonical accelerator text, an X keycode, a platform
// hot-key id. Every call takes one lock and pushes under it, so presses
// from a callback thread and releases from an apply on the worker reach
// the queue in the order they were decided.
#pragma once

#include <keymux/keymux.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "model/event.h"
#include "queue/channel.h"

namespace kmx::platform {

template <class Key>
class HeldHotkeys {
 public:
  explicit HeldHotkeys(queue::Sender<KmxEvent> events) : events_(std::move(events)) {}

  // The registration `id` under `key` went down. A press of a key already
  // held with that id (auto-repeat) delivers nothing; held with another id
  // (its registration moved without a release_unless) that press is
  // released first. True when a press was delivered.
  bool press(const Key& key, uint64_t id) {
    std::lock_guard lock(mu_);
    auto [it, inserted] = held_.try_emplace(key, id);
    if (!inserted) {
      if (it->second == id) return false;
      events_.send(model::hotkey_event(it->second, false));
      it->second = id;
    }
    events_.send(model::hotkey_event(id, true));
    return true;
  }

  // `key` went up: delivers the release of the press it ends, or nothing
  // when that press was already released (or never delivered).
  bool release(const Key& key) {
    std::lock_guard lock(mu_);
    auto it = held_.find(key);
    if (it == held_.end()) return false;
    events_.send(model::hotkey_event(it->second, false));
    held_.erase(it);
    return true;
  }

  // After an apply, with still_registered(key, id) telling whether that
  // registration is in place now: every held key whose registration is
  // gone or belongs to another id is released. Returns how many.
  template <class StillRegistered>
  size_t release_unless(StillRegistered&& still_registered) {
    std::lock_guard lock(mu_);
    size_t released = 0;
    for (auto it = held_.begin(); it != held_.end();) {
      if (still_registered(static_cast<const Key&>(it->first), it->second)) {
        ++it;
        continue;
      }
      events_.send(model::hotkey_event(it->second, false));
      it = held_.erase(it);
      ++released;
    }
    return released;
  }

  // Clear, stop or the worker's end: every held key is released.
  size_t release_all() {
    return release_unless([](const Key&, uint64_t) { return false; });
  }

  bool is_held(const Key& key) const {
    std::lock_guard lock(mu_);
    return held_.count(key) != 0;
  }

 private:
  queue::Sender<KmxEvent> events_;
  mutable std::mutex mu_;
  std::map<Key, uint64_t> held_;  // ordered: several releases go out in key order
};

}  // namespace kmx::platform
