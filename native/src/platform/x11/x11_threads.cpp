// Xlib takes its locks only when XInitThreads came before every other Xlib
// call of the process, and this library calls Xlib from its worker and from
// host threads. A constructor calls it while the library loads, before the
// host can reach any of its functions.
#include "platform/x11/x11_xlib.h"

namespace {

__attribute__((constructor)) void init_xlib_threads() { XInitThreads(); }

}  // namespace
