#include "platform/windows/win32_seam.h"

namespace kmx::platform::windows {

Win32Seam& win32() noexcept {
  static Win32Seam seam{&::SendInput, &::UnregisterHotKey, &::SetWindowsHookExW, &::CreateEventW};
  return seam;
}

}  // namespace kmx::platform::windows
