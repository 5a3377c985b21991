#!/usr/bin/env bash
# Builds the Node package (addon and library) and runs both packages' tests
# on a private Xvfb display.
set -euo pipefail
cd "$(dirname "$0")"
bindings=$PWD
with_xvfb="$bindings/../native/tests/x11/with_xvfb.sh"

echo "== node: install (npm registry) and build"
(cd node && rm -rf build && npm ci --no-audit --no-fund)
echo "== node: tests"
(cd node && bash "$with_xvfb" npm test)
echo "== python: tests"
KEYMUX_LIBRARY="$bindings/node/build/Release/libkeymux_native.so.1" \
  bash "$with_xvfb" /usr/bin/python3 -m pytest -q -p no:cacheprovider python
