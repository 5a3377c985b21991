// Remote control of the simulated desktop for hosts that cannot call kmxsim_* themselves (Node, a kmx process
// started by a test): when KMXSIM_CONTROL names a path, a thread serves line commands on a Unix socket there.
//   hotkey_press CODE MODS | hotkey_release CODE MODS   -> what the edge reached (KMXSIM_HOTKEY_* bits)
//   hotkey_registered CODE MODS                           -> 1 or 0
//   key_press CODE | key_release CODE                     -> 0 (physical key input, kmxsim_key_press)
//   pending                                              -> Carbon events not yet dispatched by the main thread
// Each command gets one line back; "error ..." for a line it does not understand.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "kmxsim/kmxsim.h"

namespace {

std::string answer(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  uint32_t code = 0, modifiers = 0;
  in >> command;
  if (command == "pending") return std::to_string(kmxsim_pending_hotkey_events());
  if (command == "key_press" || command == "key_release") {
    if (!(in >> code) || code > 0xFFFF) return "error: expected a key code after " + command;
    command == "key_press" ? kmxsim_key_press(static_cast<uint16_t>(code))
                           : kmxsim_key_release(static_cast<uint16_t>(code));
    return "0";
  }
  if (!(in >> code >> modifiers)) return "error: expected CODE MODS after " + command;
  if (command == "hotkey_press") return std::to_string(kmxsim_hotkey_press(code, modifiers));
  if (command == "hotkey_release") return std::to_string(kmxsim_hotkey_release(code, modifiers));
  if (command == "hotkey_registered") return kmxsim_hotkey_registered(code, modifiers) ? "1" : "0";
  return "error: unknown command " + command;
}

void serve(int client) {
  std::string pending;
  char buffer[256];
  for (;;) {
    const ssize_t n = ::read(client, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      const std::string reply = answer(pending.substr(0, end)) + "\n";
      pending.erase(0, end + 1);
      if (::write(client, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
    }
  }
}

__attribute__((constructor)) void start_remote_control() {
  const char* path = std::getenv("KMXSIM_CONTROL");
  if (!path || !*path) return;
  sockaddr_un address{};
  if (std::strlen(path) >= sizeof address.sun_path) {
    std::fprintf(stderr, "kmxsim: KMXSIM_CONTROL path too long\n");
    return;
  }
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ::unlink(path);
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 4) != 0) {
    std::fprintf(stderr, "kmxsim: cannot serve KMXSIM_CONTROL at %s\n", path);
    if (listener >= 0) ::close(listener);
    return;
  }
  // Lives as long as the process; one client at a time is all a test needs.
  std::thread([listener] {
    for (;;) {
      const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EINTR) continue;
        return;
      }
      serve(client);
      ::close(client);
    }
  }).detach();
}

}  // namespace
