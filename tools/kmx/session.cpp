#include "session.h"

#include <cstdio>

namespace kmx_tool {

const char* status_name(KmxStatus status) {
  switch (status) {
    case KMX_OK:
      return "ok";
    case KMX_ERR_INVALID_ARGUMENT:
      return "invalid argument";
    case KMX_ERR_BACKEND:
      return "backend error";
    case KMX_ERR_TIMEOUT:
      return "timed out";
    case KMX_ERR_CLOSED:
      return "closed";
    case KMX_ERR_UNSUPPORTED:
      return "unsupported";
    case KMX_ERR_ABI_MISMATCH:
      return "interface version mismatch";
    case KMX_ERR_DELIVERY_UNCERTAIN:
      return "delivery uncertain";
    case KMX_ERR_NOT_DELIVERED:
      return "not delivered";
    default:
      return "unknown status";
  }
}

std::string last_error(KmxHandle handle) {
  std::string text(kmx_last_error(handle, nullptr, 0), '\0');
  kmx_last_error(handle, text.data(), text.size());
  if (!text.empty()) text.pop_back();
  return text;
}

std::string last_init_error() {
  std::string text(kmx_last_init_error(nullptr, 0), '\0');
  kmx_last_init_error(text.data(), text.size());
  if (!text.empty()) text.pop_back();
  return text;
}

void report_failure(const char* what, KmxStatus status, const std::string& text) {
  std::fprintf(stderr, "kmx: %s failed: status %u (%s)%s%s\n", what, status, status_name(status),
               text.empty() ? "" : ": ", text.c_str());
}

Session::~Session() {
  if (handle_) {
    kmx_stop(handle_);
    kmx_destroy(handle_);
  }
}

bool Session::open(uint32_t raw_mask) {
  const KmxCreateOptions options{KMX_ABI_VERSION, raw_mask};
  const KmxStatus status = kmx_create(&options, &handle_);
  if (status == KMX_OK) return true;
  report_failure("kmx_create", status, last_init_error());
  return false;
}

bool Session::check(const char* what, KmxStatus status) const {
  if (status == KMX_OK) return true;
  report_failure(what, status, last_error(handle_));
  return false;
}

}  // namespace kmx_tool
