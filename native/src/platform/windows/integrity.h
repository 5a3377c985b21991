// User Interface Privilege Isolation: Windows silently drops input aimed at
// a window of a process with a higher integrity level than the sender's,
// while SendInput still counts every record as inserted. A chord is not
// sent into such a window, so that it is never reported as delivered.
#pragma once

#include <optional>
#include <string>

namespace kmx::platform::windows {

// Why input to the foreground window would be dropped; none when it would
// not be, or when either level cannot be read (the chord is then sent).
std::optional<std::string> foreground_refuses_input();

}  // namespace kmx::platform::windows
