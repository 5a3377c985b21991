#include "platform/wayland/portal_identity.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>

namespace kmx::platform::portal {

namespace {

constexpr int MAX_INSTANCES = 64;

uint64_t fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// Executables that run many programs, each named by the first argument.
// Anything else keeps one identity whatever files it is given.
bool interpreter(const std::string& exe) {
  const std::string base = exe.substr(exe.rfind('/') + 1);
  for (const char* name : {"python", "node", "electron", "perl", "ruby", "java", "deno", "bun", "gjs", "lua", "php"})
    if (base.rfind(name, 0) == 0) return true;
  return false;
}

// The executable, and for an interpreter the script it runs.
std::string program_identity() {
  std::string out;
  char exe[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) out.assign(exe, static_cast<size_t>(n));
  if (!interpreter(out)) return out;
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  const std::string args((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
  const size_t first_end = args.find('\0');
  if (first_end != std::string::npos && first_end + 1 < args.size()) {
    const std::string first = args.substr(first_end + 1, args.find('\0', first_end + 1) - first_end - 1);
    char resolved[PATH_MAX] = {};
    struct stat st {};
    if (!first.empty() && first[0] != '-' && ::realpath(first.c_str(), resolved) && ::stat(resolved, &st) == 0 &&
        S_ISREG(st.st_mode))
      out += std::string("\n") + resolved;
  }
  return out;
}

// The lowest free instance number, held by a lock on an open file for as
// long as the process lives. Without a runtime folder the process id
// stands in (unique, but not reused by the next run).
std::string take_instance(const std::string& program) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) {
    const std::string dir = std::string(runtime) + "/keymux";
    ::mkdir(dir.c_str(), 0700);
    for (int i = 0; i < MAX_INSTANCES; ++i) {
      const std::string path = dir + "/portal-" + program + "-" + std::to_string(i) + ".lock";
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
      if (fd < 0) break;
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::to_string(i);  // fd stays open: the lock is ours
      ::close(fd);
    }
  }
  return "p" + std::to_string(::getpid());
}

}  // namespace

std::string shortcut_set_token() {
  static std::mutex mu;
  static pid_t owner = 0;
  static std::string token;
  std::lock_guard lock(mu);
  if (owner != ::getpid()) {
    char program[17];
    snprintf(program, sizeof program, "%016llx", static_cast<unsigned long long>(fnv1a(program_identity())));
    token = "keymux_" + std::string(program, 12) + "_" + take_instance(std::string(program, 12));
    owner = ::getpid();
  }
  return token;
}

}  // namespace kmx::platform::portal
