// Windows wake handle: an auto-reset event that the backend thread waits on
// together with its message queue.
#include "platform/wake_handle.h"
#include "platform/windows/win32_seam.h"

namespace kmx::platform {

Result<WakeHandle::Created> WakeHandle::create() {
  HANDLE event = windows::win32().create_event(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return KmxError::backend("CreateEventW failed");
  return Created{std::make_shared<WakeHandle>(reinterpret_cast<intptr_t>(event)), reinterpret_cast<intptr_t>(event)};
}

WakeHandle::~WakeHandle() {
  if (native_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(native_));
}

void WakeHandle::signal() noexcept {
  std::lock_guard lock(mu_);
  if (native_ != 0) ::SetEvent(reinterpret_cast<HANDLE>(native_));
}

}  // namespace kmx::platform
