// The session token that names a program's shortcut set at the portal.
// Desktops store a set under the caller's application id and this token
// (KDE names a shortcut component after them), so the token must tell
// programs apart, and stay the same across a program's runs so that its
// sets do not pile up in the user's shortcut settings.
#pragma once

#include <string>

namespace kmx::platform::portal {

// "keymux_<program>_<instance>": program is a hash of the executable (and,
// for an interpreter such as python3 or node, of the script it runs); instance is the lowest
// number no other running process of that program holds, taken with a
// lock file under XDG_RUNTIME_DIR for the life of the process. The same
// within a process; a forked child takes its own.
std::string shortcut_set_token();

}  // namespace kmx::platform::portal
