#include "velkor/hotkey.h"

#include <Carbon/Carbon.h>

#include <atomic>

#include "event_handler.h"

namespace velkor {
namespace {

// Ids are never reused within a process; wrapping at 2^32 is accepted.
std::atomic<uint32_t> NEXT_ID{1};

struct CallbackTableState {
  std::mutex mu;
  std::unordered_map<uint32_t, std::shared_ptr<const HotkeyCallback>> entries;
};

CallbackTableState& callback_table() {
  // Kept for the life of the process: Carbon may dispatch while statics
  // are being destroyed.
  static auto* table = new CallbackTableState;
  return *table;
}

// The callback is invoked after the table's mutex is released, so that it
// may itself register or unregister hot keys.
void dispatch(const HotKeyEvent& event) {
  std::shared_ptr<const HotkeyCallback> callback;
  {
    auto table = lock_callback_table();
    auto it = table.entries.find(event.id);
    if (it != table.entries.end()) callback = it->second;
  }
  if (callback) (*callback)(event.edge);
}

void remove_callback(uint32_t id) {
  std::shared_ptr<const HotkeyCallback> dropped;
  auto table = lock_callback_table();
  auto it = table.entries.find(id);
  if (it == table.entries.end()) return;
  dropped = std::move(it->second);  // destroyed after the unlock
  table.entries.erase(it);
  table.lock.unlock();
}

}  // namespace

CallbackTable lock_callback_table() {
  CallbackTableState& state = callback_table();
  return CallbackTable{std::unique_lock(state.mu), state.entries};
}

const Expected<void>& install_handler_once() {
  struct Installed {
    Expected<EventHandler> handler;
    Expected<void> outcome;
  };
  // A function-local static is initialised exactly once even when two
  // threads race to the first registration; a failure is never retried.
  static const Installed* HANDLER = [] {
    Expected<EventHandler> handler = EventHandler::install(dispatch);
    Expected<void> outcome;
    if (!handler) outcome = handler.error();
    return new Installed{std::move(handler), outcome};
  }();
  return HANDLER->outcome;
}

Expected<Hotkey> register_with_options(uint16_t key_code, uint32_t modifiers, uint32_t options,
                                       HotkeyCallback callback) {
  if (const Expected<void>& installed = install_handler_once(); !installed) return installed.error();

  const uint32_t id = NEXT_ID.fetch_add(1, std::memory_order_relaxed);
  {
    auto shared = std::make_shared<const HotkeyCallback>(std::move(callback));
    std::shared_ptr<const HotkeyCallback> replaced;
    auto table = lock_callback_table();
    auto& slot = table.entries[id];
    replaced = std::move(slot);
    slot = std::move(shared);
    table.lock.unlock();
  }

  VelkorRegistration* registration = nullptr;
  const int32_t status = velkor_hotkey_register(key_code, modifiers, HOTKEY_SIGNATURE, id, options, &registration);
  if (status == noErr && registration != nullptr) return Hotkey(registration, velkor_hotkey_id(registration));

  remove_callback(id);
  if (status == eventHotKeyExistsErr) return HotkeyError::already_registered();
  if (status == noErr) return HotkeyError::register_failed(paramErr);
  return HotkeyError::register_failed(status);
}

Hotkey::Hotkey(Hotkey&& other) noexcept : registration_(other.registration_), id_(other.id_), live_(other.live_) {
  other.registration_ = nullptr;
  other.live_ = false;
}

Hotkey& Hotkey::operator=(Hotkey&& other) noexcept {
  if (this != &other) {
    (void)unregister_now();
    registration_ = other.registration_;
    id_ = other.id_;
    live_ = other.live_;
    other.registration_ = nullptr;
    other.live_ = false;
  }
  return *this;
}

Hotkey::~Hotkey() { (void)unregister_now(); }

Expected<void> Hotkey::unregister_now() noexcept {
  if (!live_) return {};
  live_ = false;
  int32_t status = noErr;
  if (registration_ != nullptr) {
    status = velkor_hotkey_unregister(registration_);
    velkor_hotkey_release(registration_);
    registration_ = nullptr;
  }
  remove_callback(id_);
  if (status != noErr) return HotkeyError::unregister_failed(status);
  return {};
}

Expected<void> unregister(Hotkey hotkey) { return hotkey.unregister_now(); }

}  // namespace velkor
