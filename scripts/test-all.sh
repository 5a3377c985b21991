#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test suite:
#   core, X11 and helper programs under ASan+UBSan and under TSan,
#   the macOS backend on the simulated frameworks (ASan+UBSan and TSan),
#   the portal backend against a headless KDE Plasma desktop (its own
#   suite, wayland-kde), the Windows DLL under Wine, the fuzzers, and a release build with the
#   packaging test, the queue benchmark (beside its peer queues) and the X11
#   benchmark, and the Node and Python packages (the Node package's
#   prebuilds for linux-x64 and win32-x64, its tests on Xvfb and under
#   Windows Node in Wine, and its packed tarball installed without a compiler).
# Usage: scripts/test-all.sh [suite...]   (default: all)
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
jobs=${KMX_JOBS:-2}
fuzz_seconds=${KMX_FUZZ_SECONDS:-30}

bash scripts/install-deps.sh || exit 1

passed=0
failed=0
failures=()

run_suite() {
  local name=$1; shift
  echo
  echo "==== suite $name ===="
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "==== suite $name passed ($((SECONDS - start)) s) ===="
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "==== suite $name FAILED ($((SECONDS - start)) s) ===="
  fi
}

preset_suite() {
  local preset=$1
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$jobs"
}

# The release build also runs what sanitizers rule out (a C host built
# against the installed package), then prints the queue's figures and the
# X11 backend's beside bare Xlib clients.
release_suite() {
  preset_suite release && build/release/bench/kmx_queue_peers &&
    { [ ! -x build/release/bench/kmx_x11_bench ] ||
      native/tests/x11/with_xvfb.sh build/release/bench/kmx_x11_bench; }
}

# The portal backend against a real desktop portal, KDE Plasma's, headless.
wayland_kde_suite() {
  cmake --preset dev >/dev/null &&
    cmake --build --preset dev -j "$jobs" --target portal_kde_end_to_end &&
    ctest --preset wayland-kde
}

all=(dev wayland-kde tsan macos-sim macos-sim-tsan windows fuzz release bindings)
selected=("$@")
[ ${#selected[@]} -gt 0 ] || selected=("${all[@]}")

for suite in "${selected[@]}"; do
  case "$suite" in
    dev|tsan|macos-sim|macos-sim-tsan) run_suite "$suite" preset_suite "$suite" ;;
    wayland-kde) run_suite wayland-kde wayland_kde_suite ;;
    windows) run_suite windows bash native/tests/windows/run-suite.sh "$top/build/windows" ;;
    fuzz) run_suite fuzz bash fuzz/run.sh "$fuzz_seconds" ;;
    release) run_suite release release_suite ;;
    bindings) run_suite bindings bash bindings/run-tests.sh ;;
    *) echo "unknown suite $suite"; failed=$((failed + 1)); failures+=("$suite") ;;
  esac
done

echo
[ ${#failures[@]} -eq 0 ] || echo "failed suites: ${failures[*]}"
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
