#!/usr/bin/env bash
# Installs what is missing, builds keymux and runs the demo host: it
# registers hot keys, types chords and watches them come back. Uses the
# current X display, or an Xvfb display of its own when none is set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${KMX_JOBS:-2}" --target keymux_native kmx
exec bash scripts/run-demo.sh build/release
