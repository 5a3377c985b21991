#include "error/kmx_error.h"

#include <cstdio>

namespace kmx::error {

std::string KmxError::display() const {
  switch (kind_) {
    case Kind::InvalidArgument:
      return "invalid argument: " + message_;
    case Kind::Unsupported:
      return "unsupported on this backend: " + message_;
    case Kind::Backend:
      return "backend error: " + message_;
    case Kind::Closed:
      return "runtime is closed";
    case Kind::Timeout:
      return "runtime command timed out";
    case Kind::DeliveryUncertain:
      return "delivery uncertain: " + message_;
    case Kind::NotDelivered:
      return "injection not delivered: " + message_;
  }
  return message_;
}

uint32_t KmxError::status() const noexcept {
  // Note the swap: Closed (index 3) is status 4, Timeout (index 4) status 3.
  switch (kind_) {
    case Kind::InvalidArgument:
      return 1;
    case Kind::Unsupported:
      return 5;
    case Kind::Backend:
      return 2;
    case Kind::Closed:
      return 4;
    case Kind::Timeout:
      return 3;
    case Kind::DeliveryUncertain:
      return 7;
    case Kind::NotDelivered:
      return 8;
  }
  return 2;
}

std::string hex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace kmx::error
