#!/usr/bin/env bash
# Builds the Node package's prebuilds (linux-x64, and win32-x64 with
# mingw-w64) and runs both packages' tests on a private Xvfb display, then
# the Node package's tests under Windows Node in Wine, then both packages'
# hot-key tests over the simulated-macOS build of keymux_native, where Carbon
# needs the main thread's event loop.
set -euo pipefail
cd "$(dirname "$0")"
bindings=$PWD
with_xvfb="$bindings/../native/tests/x11/with_xvfb.sh"

echo "== node: install the build tools (npm registry); nothing is built"
(cd node && rm -rf prebuilds && npm ci --no-audit --no-fund)
echo "== node: prebuilds"
(cd node && npm run prebuild -- linux-x64 win32-x64)
echo "== node: tests"
(cd node && bash "$with_xvfb" npm test)
echo "== node: tests under Windows Node (Wine)"
bash run-wine-tests.sh
echo "== python: tests"
KEYMUX_LIBRARY="$bindings/node/prebuilds/linux-x64/libkeymux_native.so.1" \
  bash "$with_xvfb" /usr/bin/python3 -m pytest -q -p no:cacheprovider python

echo "== simulated macOS: keymux_native without sanitizers"
(cd .. && cmake --preset macos-sim-release >/dev/null &&
  cmake --build --preset macos-sim-release -j "${KMX_JOBS:-2}" --target keymux_native)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export KEYMUX_LIBRARY="$bindings/../build/macos-sim-release/native/libkeymux_native.so.1"
export KMXSIM_CONTROL="$scratch/control"
echo "== node: hot keys on the simulated macOS"
(cd node && node --test test/hotkeys_macos_sim.test.js)
echo "== python: hot keys on the simulated macOS"
bash "$with_xvfb" /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests/test_macos_sim.py
