#!/usr/bin/env bash
# Runs `kmx demo` from a build directory (default build/release) on the
# current X display, or on a private Xvfb display when DISPLAY is unset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build/release}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
kmx="$build/tools/kmx/kmx"
if [ ! -x "$kmx" ]; then
  echo "run-demo: $kmx not found; build the kmx target first" >&2
  exit 1
fi
if [ -n "${DISPLAY:-}" ]; then
  echo "run-demo: using display $DISPLAY"
  exec "$kmx" demo
fi
echo "run-demo: DISPLAY is not set; starting a private Xvfb display"
exec "$root/native/tests/x11/with_xvfb.sh" "$kmx" demo
