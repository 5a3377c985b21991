#include "image_file.h"

#include <fcntl.h>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace ocr_helper {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
// Returns a descriptor the caller owns, or -1.
int open_acceptable(const std::string& path) {
  if (path.empty()) return -1;
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > MAX_IMAGE_FILE_BYTES) {
    return -1;
  }
  return fd.release();
}

}  // namespace

bool acceptable_image_file(const std::string& path) { return Descriptor(open_acceptable(path)).get() >= 0; }

std::optional<std::vector<std::uint8_t>> read_image_file(const std::string& path) {
  const Descriptor fd(open_acceptable(path));
  if (fd.get() < 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (bytes.size() + static_cast<std::size_t>(n) > MAX_IMAGE_FILE_BYTES) return std::nullopt;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

}  // namespace ocr_helper
