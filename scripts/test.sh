#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal, runs the whole test suite against it and stops the server, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

state=$(mktemp -d /tmp/vantrel-test.XXXXXX)
xvfb_pid=
cleanup() {
  if [[ -n $xvfb_pid ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  scripts/sound-server.sh stop "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
eval "$(scripts/sound-server.sh start "$state")"
export PULSE_SERVER

# A real X display for the tests that run the program as a user would; the in-process
# widget tests use the offscreen platform.
for n in $(seq 90 120); do [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break; done
Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
export XDG_RUNTIME_DIR=$state/runtime
# Tests that move files to the trash or write settings do so in here, never in $HOME.
export XDG_DATA_HOME=$state/data HOME=$state/home
mkdir -p "$XDG_DATA_HOME" "$HOME"

ctest --test-dir build --output-on-failure -j2 --timeout 600
