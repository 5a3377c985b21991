#include <windows.h>

#include <string>

#include "platform/worker_thread.h"

namespace kmx::platform {

void set_current_thread_name(const std::string& name) noexcept {
  // SetThreadDescription exists from Windows 10 1607 on; older systems and
  // Wine releases without it simply leave the thread unnamed.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  FARPROC proc = ::GetProcAddress(kernel, "SetThreadDescription");
  if (proc == nullptr) return;
  auto set_description = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(proc));

  const int length = ::MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
  if (length <= 0) return;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wide.data(), length);
  set_description(::GetCurrentThread(), wide.c_str());
}

}  // namespace kmx::platform
