// POSIX wake handle (macOS and Linux): a connected pair of local stream
// sockets whose writing end is non-blocking.
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
constexpr int SEND_FLAGS = 0;  // SO_NOSIGPIPE on the socket instead
#endif

}  // namespace

Result<WakeHandle::Created> WakeHandle::create() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
    return KmxError::backend(std::string("command pipe failed: ") + strerror(errno));
  const int flags = ::fcntl(fds[1], F_GETFL);
  if (flags < 0 || ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK) != 0) {
    const int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    return KmxError::backend(std::string("command pipe failed: ") + strerror(err));
  }
#ifdef SO_NOSIGPIPE
  const int on = 1;
  ::setsockopt(fds[1], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return Created{std::make_shared<WakeHandle>(fds[1]), fds[0]};
}

WakeHandle::~WakeHandle() { ::close(static_cast<int>(native_)); }

void WakeHandle::signal() noexcept {
  std::lock_guard lock(mu_);
  const unsigned char byte = 0x01;
  // A full socket buffer means the worker is already due to wake.
  // The worker may have closed its end already: that is no signal's business.
  while (::send(static_cast<int>(native_), &byte, 1, SEND_FLAGS) < 0 && errno == EINTR) {
  }
}

}  // namespace kmx::platform
