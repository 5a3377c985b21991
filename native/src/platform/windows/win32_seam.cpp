#include "platform/windows/win32_seam.h"

#include <cstdio>
#include <memory>

namespace kmx::platform::windows {

namespace {

DWORD token_integrity(HANDLE process) noexcept {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return 0;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  DWORD level = 0;
  if (size >= sizeof(TOKEN_MANDATORY_LABEL)) {
    auto buffer = std::make_unique<unsigned char[]>(size);
    auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.get());
    if (::GetTokenInformation(token, TokenIntegrityLevel, label, size, &size) && ::IsValidSid(label->Label.Sid)) {
      const UCHAR count = *::GetSidSubAuthorityCount(label->Label.Sid);
      if (count > 0) level = *::GetSidSubAuthority(label->Label.Sid, count - 1);
    }
  }
  ::CloseHandle(token);
  return level;
}

void write_standard_error(const char* text, size_t size) noexcept {
  std::fwrite(text, 1, size, stderr);
  std::fflush(stderr);
}

}  // namespace

Win32Seam& win32() noexcept {
  static Win32Seam seam{&::SendInput,    &::UnregisterHotKey, &::SetWindowsHookExW, &::UnhookWindowsHookEx,
                        &::CreateEventW, &token_integrity,    &write_standard_error};
  return seam;
}

}  // namespace kmx::platform::windows
