#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal, runs the whole test suite against it and stops the server, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

state=$(mktemp -d /tmp/vantrel-test.XXXXXX)
vt_pids=()
source scripts/lib/desktop.sh
cleanup() {
  for p in "${vt_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  scripts/sound-server.sh stop "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
eval "$(scripts/sound-server.sh start "$state")"
export PULSE_SERVER

# A real X display for the tests that run the program as a user would; the in-process
# widget tests use the offscreen platform.
vt_start_display 90 120
export XDG_RUNTIME_DIR=$state/runtime
# Tests that move files to the trash or write settings do so in here, never in $HOME.
export XDG_DATA_HOME=$state/data HOME=$state/home
mkdir -p "$XDG_DATA_HOME" "$HOME"

ctest --test-dir build --output-on-failure -j2 --timeout 600
