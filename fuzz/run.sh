#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset, clang, ASan+UBSan) and runs each
# for a fixed time from its committed seed corpus. Fails on a crash, a
# sanitizer report or a model mismatch (the targets abort).
#   usage: fuzz/run.sh [seconds per target, default 30]
set -euo pipefail

seconds="${1:-30}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KMX_FUZZ_BUILD_DIR:-$root/build/fuzz}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
targets=(fuzz_validate_shortcuts fuzz_hotkey_set fuzz_exif_orientation fuzz_spell_text)

cmake -S "$root" -B "$build" --preset fuzz -DKMX_SANITIZE="address;undefined" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

for target in "${targets[@]}"; do
  corpus="$root/fuzz/corpus/$target"
  # New inputs go to a scratch directory so the committed corpus stays small.
  work="$(mktemp -d)"
  mkdir "$work/corpus"
  trap 'rm -rf "$work"' EXIT
  echo "== $target for ${seconds}s"
  if ! (cd "$work" && "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
         -print_final_stats=1 "$work/corpus" "$corpus") >"$work/log" 2>&1; then
    grep -v -E '^#[0-9]+ +(NEW|REDUCE|pulse)' "$work/log" | tail -n 80
    echo "$target FAILED (crashing input, if any, saved under $work)" >&2
    trap - EXIT
    exit 1
  fi
  grep -E '^(Done|stat::)' "$work/log"
  rm -rf "$work"
  trap - EXIT
done
echo "fuzzing passed"
