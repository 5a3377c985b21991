// POSIX wake handle (macOS and Linux): a connected pair of local stream
// sockets whose writing end is non-blocking.
//
// The worker may have closed its end (it ended on a fault) when a host
// thread signals; writing then must not raise SIGPIPE, whose default action
// ends the host. Linux has a per-call flag for that, Apple a socket option.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/wake_handle.h"

namespace kmx::platform {

namespace {

#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;
#endif

// 0 or the errno of the first step that failed.
int configure_writing_end(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
#ifdef SO_NOSIGPIPE
  const int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) return errno;
#endif
  return 0;
}

}  // namespace

Result<WakeHandle::Created> WakeHandle::create() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
    return KmxError::backend(std::string("command pipe failed: ") + strerror(errno));
  if (const int err = configure_writing_end(fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return KmxError::backend(std::string("command pipe failed: ") + strerror(err));
  }
  return Created{std::make_shared<WakeHandle>(fds[1]), fds[0]};
}

WakeHandle::~WakeHandle() { ::close(static_cast<int>(native_)); }

void WakeHandle::signal() noexcept {
  std::lock_guard lock(mu_);
  const unsigned char byte = 0x01;
  // A full socket buffer means the worker is already due to wake; a closed
  // peer (EPIPE) means there is nobody left to wake.
  while (::send(static_cast<int>(native_), &byte, 1, SEND_FLAGS) < 0 && errno == EINTR) {
  }
}

}  // namespace kmx::platform
