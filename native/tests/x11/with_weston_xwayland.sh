#!/usr/bin/env bash
# Runs a command with DISPLAY set to the Xwayland of a private headless
# weston, which is ended afterwards. Weston picks the X display number
# itself and starts Xwayland when the first X client connects.
set -u

if ! command -v weston >/dev/null 2>&1 || ! command -v Xwayland >/dev/null 2>&1; then
  echo "with_weston_xwayland: weston and Xwayland are not installed (Debian packages weston xwayland)" >&2
  exit 1
fi

dir=$(mktemp -d)
chmod 700 "$dir"
export XDG_RUNTIME_DIR=$dir
weston --backend=headless-backend.so --xwayland --socket=kmx-test --idle-time=0 >"$dir/weston.log" 2>&1 &
weston=$!
cleanup() {
  kill "$weston" 2>/dev/null
  wait "$weston" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

display=""
for _ in $(seq 1 200); do
  display=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log" | head -n 1)
  [ -n "$display" ] && break
  if ! kill -0 "$weston" 2>/dev/null; then
    echo "with_weston_xwayland: weston did not start:" >&2
    cat "$dir/weston.log" >&2
    exit 1
  fi
  sleep 0.05
done
if [ -z "$display" ]; then
  echo "with_weston_xwayland: weston did not report an X display" >&2
  cat "$dir/weston.log" >&2
  exit 1
fi

export DISPLAY=$display
unset WAYLAND_DISPLAY
"$@"
