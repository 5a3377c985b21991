// Which desktop backend serves GlobalShortcuts behind the portal frontend.
// A frontend that loses its backend may say nothing (xdg-desktop-portal
// 1.16 keeps the sessions and goes silent), so the worker watches the
// backend's bus name as well as the frontend's.
#pragma once

#include <string>
#include <vector>

namespace kmx::platform::portal {

// The bus names of the backends the frontend may use for GlobalShortcuts,
// read from its portal files (XDG_DESKTOP_PORTAL_DIR, else the system
// folder): those meant for a desktop of XDG_CURRENT_DESKTOP when there are
// any, else all that offer the interface.
std::vector<std::string> shortcut_backend_names();

// True when XDG_CURRENT_DESKTOP names KDE.
bool kde_desktop();

}  // namespace kmx::platform::portal
