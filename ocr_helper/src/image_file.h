#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ocr_helper {

// Larger files are refused unread: a photo or a scanned page is a few MiB,
// and reading an endless stream (/dev/zero) must not exhaust memory.
inline constexpr std::uint64_t MAX_IMAGE_FILE_BYTES = 100ull * 1024 * 1024;

// True for a regular file of at most MAX_IMAGE_FILE_BYTES. FIFOs, devices and
// directories are refused without blocking on them.
bool acceptable_image_file(const std::string& path);

// The bytes of an acceptable image file; nullopt when it is not acceptable,
// cannot be read, or grows past the limit while being read.
std::optional<std::vector<std::uint8_t>> read_image_file(const std::string& path);

}  // namespace ocr_helper
