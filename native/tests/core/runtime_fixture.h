// Shared fixture of the runtime suites: a clean scripted backend per test
// and helpers that read the C interface's texts.
#pragma once

#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include <string>

#include "capi/capi_handle.h"
#include "runtime/handle.h"
#include "scripted_backend.h"

namespace kmx::testing {

inline std::string last_error(KmxHandle h) {
  char buf[512];
  kmx_last_error(h, buf, sizeof buf);
  return buf;
}

inline std::string last_init_error() {
  char buf[512];
  kmx_last_init_error(buf, sizeof buf);
  return buf;
}

inline std::string leftovers(KmxHandle h) {
  char buf[512];
  kmx_apply_leftovers(h, buf, sizeof buf);
  return buf;
}

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { scripted::reset(); }
  void TearDown() override {
    kmx_destroy(handle_);
    handle_ = nullptr;
    EXPECT_FALSE(runtime::instance_active());
  }

  KmxHandle create(uint32_t mask = 0) {
    KmxCreateOptions options{KMX_ABI_VERSION, mask};
    EXPECT_EQ(kmx_create(&options, &handle_), KMX_OK) << last_init_error();
    return handle_;
  }

  // A runtime with shortened command time-outs.
  KmxHandle create_with(runtime::Timeouts timeouts, uint32_t mask = 0) {
    auto created = runtime::Handle::create(KMX_ABI_VERSION, mask, timeouts);
    EXPECT_TRUE(created.ok());
    handle_ = created ? capi::to_c(created.value()) : nullptr;
    return handle_;
  }

  KmxHandle handle_ = nullptr;
};

}  // namespace kmx::testing
