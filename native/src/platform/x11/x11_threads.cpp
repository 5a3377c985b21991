// Xlib takes its locks only when XInitThreads came before every other Xlib
// call of the process, and this library calls Xlib from its worker and from
// host threads. A constructor calls it while the library loads, before the
// host can reach any of its functions.
#include "platform/x11/x11_threads.h"

#include "platform/x11/x11_xlib.h"

namespace kmx::platform::x11 {

namespace {

bool THREADS_READY = false;

__attribute__((constructor)) void init_xlib_threads() { THREADS_READY = XInitThreads() != 0; }

}  // namespace

bool xlib_threads_ready() noexcept { return THREADS_READY; }

}  // namespace kmx::platform::x11
