// POSIX wake handle (macOS and Linux): a connected pair of local stream
// sockets whose writing end is non-blocking.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/wake_handle.h"

namespace kmx::platform {

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
  return Created{std::make_shared<WakeHandle>(fds[1]), fds[0]};
}

WakeHandle::~WakeHandle() { ::close(static_cast<int>(native_)); }

void WakeHandle::signal() noexcept {
  std::lock_guard lock(mu_);
  const unsigned char byte = 0x01;
  // A full socket buffer means the worker is already due to wake.
  while (::send(static_cast<int>(native_), &byte, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

}  // namespace kmx::platform
