#!/usr/bin/env bash
# Runs a command on the current display under a real window manager, which
# is ended afterwards: with_window_manager.sh openbox|i3 COMMAND...
# Window managers take their own grabs (openbox's are keyboard-freezing),
# move the focus and reparent windows; the hot-key, chord and focus tests
# must hold beside them.
set -u

wm=$1
shift
dir=$(mktemp -d)
case "$wm" in
  openbox) openbox --config-file /etc/xdg/openbox/rc.xml >"$dir/wm.log" 2>&1 & ;;
  i3)
    # Debian's default configuration less what would start a bar, the
    # first-run wizard (which grabs the keyboard) and desktop helpers.
    grep -v -e '^exec' /etc/i3/config | awk '/^bar \{/ { skip = 1 } skip && /^\}/ { skip = 0; next } !skip' \
      >"$dir/i3.conf"
    i3 -c "$dir/i3.conf" >"$dir/wm.log" 2>&1 &
    ;;
  *)
    echo "with_window_manager: unknown window manager $wm" >&2
    exit 2
    ;;
esac
pid=$!
cleanup() {
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# A window manager announces itself on the root window once it runs.
for _ in $(seq 1 200); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "with_window_manager: $wm did not start:" >&2
    cat "$dir/wm.log" >&2
    exit 1
  fi
  sleep 0.05
done
if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
  echo "with_window_manager: $wm did not announce itself" >&2
  exit 1
fi
"$@"
