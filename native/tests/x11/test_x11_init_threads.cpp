// The library calls XInitThreads while it loads, before the host's main
// runs: this program's own XInitThreads stands in front of Xlib's, notes
// which object called it and passes the call on.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <keymux/keymux.h>

#include <cstring>

namespace {

bool CALLED_BY_LIBRARY = false;
bool MAIN_STARTED = false;
bool CALLED_BY_LIBRARY_BEFORE_MAIN = false;

}  // namespace

// Exported (the build hides symbols by default) so that it stands in front of Xlib's.
extern "C" __attribute__((visibility("default"))) int XInitThreads(void) {
  Dl_info info{};
  if (dladdr(__builtin_return_address(0), &info) && info.dli_fname && std::strstr(info.dli_fname, "keymux_native")) {
    CALLED_BY_LIBRARY = true;
    if (!MAIN_STARTED) CALLED_BY_LIBRARY_BEFORE_MAIN = true;
  }
  using Real = int (*)();
  static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XInitThreads"));
  return real ? real() : 0;
}

TEST(XlibThreads, TheLibraryInitialisesXlibThreadsBeforeMain) {
  EXPECT_EQ(kmx_abi_version(), 0x10000u);  // the library is linked and loaded
  EXPECT_TRUE(CALLED_BY_LIBRARY);
  EXPECT_TRUE(CALLED_BY_LIBRARY_BEFORE_MAIN);
}

int main(int argc, char** argv) {
  MAIN_STARTED = true;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
