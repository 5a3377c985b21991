#!/bin/sh
# Runs a Windows test program under Wine on a headless display.
#
#   wine-run.sh program.exe [args...]   run it (the emulator CTest prepends)
#   wine-run.sh --setup                 create the prefix, start Xvfb and wineserver
#   wine-run.sh --shutdown              stop the wineserver and the Xvfb started here
#
# State lives in $KMX_WINE_DIR (default: a "wine" folder beside the
# program): the prefix, created once, and the display this script started.
# Other runs, with their own state folders, may go on at the same time.
# Setup runs under a lock, so concurrent first runs share one prefix.
set -eu

if [ "${1:-}" = "--setup" ] || [ "${1:-}" = "--shutdown" ]; then
  mode=$1
  state=${KMX_WINE_DIR:-$(pwd)/wine}
else
  mode=run
  [ $# -ge 1 ] || { echo "usage: $0 program.exe [args...]" >&2; exit 2; }
  state=${KMX_WINE_DIR:-$(cd "$(dirname "$1")" && pwd)/wine}
fi
mkdir -p "$state"
state=$(cd "$state" && pwd)

export WINEPREFIX="$state/prefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
# No Mono or Gecko installer dialogs while the prefix is made, and no
# debugger waiting on a crashed test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

xvfb_alive() {
  [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

# A display of our own: Xvfb picks a free number and reports it on a
# descriptor once it accepts clients, so concurrent runs never collide.
# -noreset keeps it from resetting when the last Wine client disconnects.
start_xvfb() {
  rm -f "$state/displayfd"
  # Detached from our pipes and lock so that CTest does not wait for it.
  setsid Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp \
    3>"$state/displayfd" </dev/null >"$state/xvfb.log" 2>&1 9>&- &
  echo $! >"$state/xvfb.pid"
  i=0
  while [ $i -lt 100 ]; do
    n=$(tr -dc '0-9' <"$state/displayfd" 2>/dev/null || true)
    if [ -n "$n" ]; then
      echo ":$n" >"$state/display"
      return 0
    fi
    xvfb_alive || break
    sleep 0.1
    i=$((i + 1))
  done
  echo "wine-run.sh: could not start Xvfb (see $state/xvfb.log)" >&2
  return 1
}

setup() {
  # Never the caller's DISPLAY: the suite types into whatever desktop it
  # runs on. KMX_WINE_DISPLAY names another one on purpose.
  if [ -n "${KMX_WINE_DISPLAY:-}" ]; then
    echo "$KMX_WINE_DISPLAY" >"$state/display"
  else
    xvfb_alive || start_xvfb
  fi
  DISPLAY=$(cat "$state/display")
  export DISPLAY
  # A persistent server and the prefix's own processes, none of which holds
  # a test's output pipe.
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
  if [ ! -f "$WINEPREFIX/.kmx-ready" ]; then
    wineboot -i </dev/null >"$state/wineboot.log" 2>&1 9>&-
    touch "$WINEPREFIX/.kmx-ready"
  fi
  wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
}

case $mode in
  --shutdown)
    # WINEPREFIX is this run's own: only its server ends.
    wineserver -k 2>/dev/null || true
    if xvfb_alive; then kill "$(cat "$state/xvfb.pid")" || true; fi
    rm -f "$state/xvfb.pid" "$state/display"
    exit 0
    ;;
esac

(
  flock 9
  if [ -z "${KMX_WINE_DISPLAY:-}" ] && ! xvfb_alive; then rm -f "$state/display"; fi
  if [ ! -f "$WINEPREFIX/.kmx-ready" ] || [ ! -f "$state/display" ] || [ "$mode" = "--setup" ]; then setup; fi
) 9>"$state/lock"

[ "$mode" = "--setup" ] && exit 0
DISPLAY=$(cat "$state/display")
export DISPLAY
exec wine "$@"
