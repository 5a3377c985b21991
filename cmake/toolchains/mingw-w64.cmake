# Cross-build for 64-bit Windows with mingw-w64 on a Debian host. The posix
# thread model is named directly: std::thread and std::mutex need it, and
# the system's default alternative may be the win32 one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kmx_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_kmx_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kmx_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_kmx_mingw}-windres)
set(CMAKE_OBJDUMP ${_kmx_mingw}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_kmx_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine through this wrapper (prefix, display).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../native/tests/windows/wine-run.sh)
