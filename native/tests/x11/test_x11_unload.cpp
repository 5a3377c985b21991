// A plug-in host: it loads the library with dlopen, creates and destroys a
// runtime, unloads it, and later loses its X server. Its own I/O error
// handler, installed first, must still be the one that runs; no code of the
// unloaded library may be left in its path. This program does not link the
// library, so dlclose could really unmap it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <keymux/keymux.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "own_xvfb.h"

namespace {

constexpr int HOST_HANDLER_RAN = 42;

int host_io_error(Display*) { _exit(HOST_HANDLER_RAN); }

// The plug-in host, in a process of its own because its handler ends it.
// Tells the test through `ready` when the library is unloaded.
[[noreturn]] void plugin_host(int ready) {
  XSetIOErrorHandler(host_io_error);
  Display* host = XOpenDisplay(nullptr);
  if (!host) _exit(10);
  void* library = dlopen(KMX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) _exit(11);
  auto create = reinterpret_cast<decltype(&kmx_create)>(dlsym(library, "kmx_create"));
  auto destroy = reinterpret_cast<decltype(&kmx_destroy)>(dlsym(library, "kmx_destroy"));
  if (!create || !destroy) _exit(12);
  KmxCreateOptions options{KMX_ABI_VERSION, KMX_RAW_KEYS};
  KmxHandle h = nullptr;
  if (create(&options, &h) != KMX_OK) _exit(13);
  destroy(h);
  dlclose(library);
  const char byte = 1;
  if (write(ready, &byte, 1) != 1) _exit(14);
  // Uses its connection until the server goes.
  for (;;) {
    XNoOp(host);
    XSync(host, False);
  }
}

TEST(X11Unload, HostHandlerRunsWhenTheServerDiesAfterTheLibraryWasUnloaded) {
  kmx::testing::OwnXvfb server;
  ASSERT_FALSE(server.name().empty()) << "Xvfb did not start";
  setenv("DISPLAY", server.name().c_str(), 1);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    plugin_host(fds[1]);
  }
  ASSERT_GT(child, 0);
  close(fds[1]);
  char byte = 0;
  const bool ready = read(fds[0], &byte, 1) == 1;
  close(fds[0]);
  if (ready) server.kill_now();
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(ready) << "the host failed before unloading, status " << WEXITSTATUS(status);
  ASSERT_TRUE(WIFEXITED(status)) << "the host died by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), HOST_HANDLER_RAN);
}

}  // namespace
