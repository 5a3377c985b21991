#include "platform/x11/x11_xwayland.h"

#include <cstring>

namespace kmx::platform::x11 {

bool is_xwayland(Display* display) {
  int opcode = 0, event_base = 0, error_base = 0;
  if (XQueryExtension(display, "XWAYLAND", &opcode, &event_base, &error_base)) return true;
  // Older Xwayland has no extension of its own, but every version names its
  // RandR outputs XWAYLAND0, XWAYLAND1, ...
  if (!XRRQueryExtension(display, &event_base, &error_base)) return false;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  if (!resources) return false;
  bool found = false;
  for (int i = 0; i < resources->noutput && !found; ++i) {
    XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[i]);
    if (!output) continue;
    found = output->name && std::strncmp(output->name, "XWAYLAND", 8) == 0;
    XRRFreeOutputInfo(output);
  }
  XRRFreeScreenResources(resources);
  return found;
}

}  // namespace kmx::platform::x11
