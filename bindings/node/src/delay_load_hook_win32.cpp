// The addon imports Node-API from "node.exe" through a delay-load import
// library. The host may be Electron or a renamed node.exe, so the hook
// hands back the executable that loaded us instead of searching for a file
// of that name (which would load a second, foreign node.exe or fail).
#include <windows.h>

#include <delayimp.h>

namespace {

FARPROC WINAPI resolve_host(unsigned event, PDelayLoadInfo info) {
  if (event != dliNotePreLoadLibrary || lstrcmpiA(info->szDll, "node.exe") != 0) return nullptr;
  return reinterpret_cast<FARPROC>(GetModuleHandleW(nullptr));
}

// Set while the DLL initialises, before Node calls into the addon and so
// before the first Node-API function is resolved. (mingw's run time defines
// the hook variable itself, so it is assigned rather than defined here.)
const bool HOOK_SET = (__pfnDliNotifyHook2 = resolve_host, true);

}  // namespace
