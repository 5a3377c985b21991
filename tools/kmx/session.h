// A keymux runtime for the length of one kmx command, and the program's
// error reporting: status and last-error text on standard error.
#pragma once

#include <keymux/keymux.h>

#include <string>

namespace kmx_tool {

const char* status_name(KmxStatus status);
std::string last_error(KmxHandle handle);
std::string last_init_error();

// Writes "kmx: <what> failed: status N (<name>): <text>" to standard error.
void report_failure(const char* what, KmxStatus status, const std::string& text);

class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Reports the failure itself.
  bool open(uint32_t raw_mask);
  KmxHandle handle() const { return handle_; }
  // True when status is KMX_OK; otherwise reports it with the handle's text.
  bool check(const char* what, KmxStatus status) const;

 private:
  KmxHandle handle_ = nullptr;
};

}  // namespace kmx_tool
