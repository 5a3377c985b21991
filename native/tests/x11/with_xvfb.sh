#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server, which is ended
# afterwards. Xvfb picks a free display number itself (-displayfd) and,
# with -noreset, keeps its state when its last client disconnects.
# XVFB_SCREENS=2 gives the server a second screen.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with_xvfb: Xvfb is not installed (Debian package xvfb)" >&2
  exit 1
fi

dir=$(mktemp -d)
screens=(-screen 0 1280x1024x24)
if [ "${XVFB_SCREENS:-1}" = 2 ]; then screens+=(-screen 1 800x600x24); fi
Xvfb -displayfd 3 -noreset -nolisten tcp "${screens[@]}" 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
cleanup() {
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

for _ in $(seq 1 200); do
  [ -s "$dir/display" ] && break
  if ! kill -0 "$xvfb" 2>/dev/null; then
    echo "with_xvfb: Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ ! -s "$dir/display" ]; then
  echo "with_xvfb: Xvfb did not report a display" >&2
  exit 1
fi

export DISPLAY=":$(head -n 1 "$dir/display")"
"$@"
