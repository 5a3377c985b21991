// Chord injection and key-state queries need no state on Windows: SendInput
// and GetAsyncKeyState work from any thread.
#pragma once

namespace kmx::platform {

struct DirectContext {};

}  // namespace kmx::platform
