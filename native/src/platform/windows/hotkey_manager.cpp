#include "platform/windows/hotkey_manager.h"

#include <string>
#include <system_error>

#include "platform/windows/win32_seam.h"
#include "util/panic_safe.h"

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

// Sleeps between reads so that a key held for minutes costs nothing.
void watch_release(uint32_t id, uint16_t vk, HANDLE stop_event, std::shared_ptr<std::atomic<bool>> done) noexcept {
  for (;;) {
    if (::WaitForSingleObject(stop_event, RELEASE_POLL_MS) != WAIT_TIMEOUT) break;
    if (::GetAsyncKeyState(vk) >= 0) {
      deliver(id, false);
      break;
    }
  }
  done->store(true, std::memory_order_release);
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

  HANDLE stop_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (stop_event == nullptr)
    return KmxError::backend("failed to create the hotkey watcher event: Windows error " +
                             std::to_string(::GetLastError()));
  std::unique_ptr<HotkeyManager> manager(new HotkeyManager(nullptr, stop_event));
  HWND window = ::CreateWindowExW(0, WINDOW_CLASS, L"keymux hotkeys", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module,
                                  manager.get());
  if (window == nullptr)
    return KmxError::backend("failed to create the hidden hotkey window: Windows error " +
                             std::to_string(::GetLastError()));
  manager->window_ = window;
  return manager;
}

HotkeyManager::~HotkeyManager() {
  ::SetEvent(stop_event_);
  for (Watcher& w : watchers_) w.thread.join();
  if (window_ != nullptr) ::DestroyWindow(window_);
  ::CloseHandle(stop_event_);
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
      util::log_callback_panic("hotkey window",
                               [&] { self->on_hotkey(static_cast<uint32_t>(wparam), HIWORD(lparam)); });
      return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void HotkeyManager::on_hotkey(uint32_t id, uint16_t vk) {
  deliver(id, true);
  reap_finished_watchers();
  // One watcher per press, so that overlapping holds each get their release.
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    watchers_.push_back(Watcher{std::thread(watch_release, id, vk, stop_event_, done), done});
  } catch (const std::system_error&) {
    // Without a watcher the release would never come; report it now rather
    // than leave the host believing the key is still held.
    deliver(id, false);
  }
}

void HotkeyManager::reap_finished_watchers() {
  for (auto it = watchers_.begin(); it != watchers_.end();) {
    if (it->done->load(std::memory_order_acquire)) {
      it->thread.join();
      it = watchers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace kmx::platform::windows
