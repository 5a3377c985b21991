#!/usr/bin/env bash
# Installs the build in $1 into a scratch prefix under $2, then builds the
# tiny C host against it with CMake and with pkg-config and runs both.
set -euo pipefail
build=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
here=$(cd "$(dirname "$0")" && pwd)
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libkeymux_native.so.1' | head -n 1)")
test -L "$libdir/libkeymux_native.so"
test -f "$prefix/include/keymux/keymux.h"

echo "== CMake package"
cmake -S "$here" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH="$libdir" "$work/cmake-build/host"

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -o "$work/host-pc" "$here/host.c" $(pkg-config --cflags --libs keymux)
LD_LIBRARY_PATH="$libdir" "$work/host-pc"
