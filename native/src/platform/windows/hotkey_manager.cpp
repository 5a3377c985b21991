#include "platform/windows/hotkey_manager.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <system_error>
#include <vector>

#include "platform/windows/diagnostics.h"
#include "platform/windows/win32_seam.h"

namespace kmx::platform::windows {

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"keymux_hotkey_window";
constexpr DWORD RELEASE_POLL_MS = 50;

std::atomic<HotkeyHandler> HANDLER{nullptr};

void deliver(uint32_t id, bool pressed) noexcept {
  if (HotkeyHandler handler = HANDLER.load(std::memory_order_acquire)) handler(id, pressed);
}

std::string windows_error(const char* what, const HotKey& hotkey, DWORD code) {
  return std::string(what) + " " + hotkey.debug() + ": Windows error " + std::to_string(code);
}

HINSTANCE this_module() noexcept {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&deliver), &module);
  return module;
}

// Reads every held key each 50 ms and reports the ones that went up; with
// nothing held it sleeps until a press or the end.
void watch_releases(queue::Receiver<HotkeyManager::Press> presses, HANDLE press_event, HANDLE stop_event) noexcept {
  std::vector<HotkeyManager::Press> held;
  const HANDLE events[] = {stop_event, press_event};
  for (;;) {
    const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, held.empty() ? INFINITE : RELEASE_POLL_MS);
    if (r != WAIT_OBJECT_0 + 1 && r != WAIT_TIMEOUT) return;  // the end, or a wait that cannot work
    try {
      while (auto press = presses.try_recv()) held.push_back(*press);
    } catch (...) {
      // Out of memory: presses not taken stay queued for the next round.
    }
    std::erase_if(held, [](const HotkeyManager::Press& p) {
      if (::GetAsyncKeyState(p.vk) < 0) return false;
      deliver(p.id, false);
      return true;
    });
  }
}

}  // namespace

void HotkeyManager::set_handler(HotkeyHandler handler) noexcept { HANDLER.store(handler, std::memory_order_release); }

Result<std::unique_ptr<HotkeyManager>> HotkeyManager::create() {
  const HINSTANCE module = this_module();
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &HotkeyManager::window_proc;
  wc.hInstance = module;
  wc.lpszClassName = WINDOW_CLASS;
  if (::RegisterClassExW(&wc) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return KmxError::backend("failed to register the hotkey window class: Windows error " +
                             std::to_string(::GetLastError()));

  std::unique_ptr<HotkeyManager> manager(new HotkeyManager);
  manager->stop_event_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  manager->press_event_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (manager->stop_event_ == nullptr || manager->press_event_ == nullptr)
    return KmxError::backend("failed to create the hotkey watcher events: Windows error " +
                             std::to_string(::GetLastError()));
  auto [press_tx, press_rx] = queue::channel<Press>();
  try {
    manager->watcher_ = std::thread(watch_releases, std::move(press_rx), manager->press_event_, manager->stop_event_);
  } catch (const std::system_error& e) {
    return KmxError::backend(std::string("failed to start the hotkey release watcher: ") + e.what());
  }
  manager->presses_ = std::move(press_tx);
  HWND window = ::CreateWindowExW(0, WINDOW_CLASS, L"keymux hotkeys", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                                  manager.get());
  if (window == nullptr)
    return KmxError::backend("failed to create the hidden hotkey window: Windows error " +
                             std::to_string(::GetLastError()));
  manager->window_ = window;
  return manager;
}

HotkeyManager::~HotkeyManager() {
  if (watcher_.joinable()) {
    ::SetEvent(stop_event_);
    watcher_.join();
  }
  if (window_ != nullptr) ::DestroyWindow(window_);
  if (stop_event_ != nullptr) ::CloseHandle(stop_event_);
  if (press_event_ != nullptr) ::CloseHandle(press_event_);
}

Status HotkeyManager::register_hotkey(const HotKey& hotkey) {
  if (::RegisterHotKey(window_, static_cast<int>(hotkey.id), hotkey.native_modifiers(), hotkey.vk())) return {};
  const DWORD code = ::GetLastError();
  if (code == ERROR_HOTKEY_ALREADY_REGISTERED) return KmxError::backend("HotKey already registered: " + hotkey.debug());
  return KmxError::backend(windows_error("failed to register", hotkey, code));
}

Status HotkeyManager::unregister_hotkey(const HotKey& hotkey) {
  if (win32().unregister_hot_key(window_, static_cast<int>(hotkey.id))) return {};
  return KmxError::backend(windows_error("failed to unregister", hotkey, ::GetLastError()));
}

Status HotkeyManager::unregister_all(std::span<const HotKey> hotkeys) {
  Status first;
  for (const HotKey& hotkey : hotkeys) {
    Status s = unregister_hotkey(hotkey);
    if (!s && first) first = std::move(s);
  }
  return first;
}

LRESULT CALLBACK HotkeyManager::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_HOTKEY) {
    auto* self = reinterpret_cast<HotkeyManager*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
      guard_callback("hotkey window", [&] { self->on_hotkey(static_cast<uint32_t>(wparam), HIWORD(lparam)); });
      return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void HotkeyManager::on_hotkey(uint32_t id, uint16_t vk) {
  deliver(id, true);
  // The watcher tracks each press, so overlapping holds each get their release.
  presses_.send(Press{id, vk});
  ::SetEvent(press_event_);
}

}  // namespace kmx::platform::windows
