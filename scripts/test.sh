#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal, runs the whole test suite against it and stops the server, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

source scripts/lib/desktop.sh
vt_begin_session vantrel-test
trap 'exit 130' INT TERM
state=$vt_work
# Always a server of our own, whatever PULSE_SERVER the caller had.
eval "$(scripts/sound-server.sh start "$state/sound")"
export PULSE_SERVER

# A real X display for the tests that run the program as a user would; the in-process
# widget tests use the offscreen platform.
vt_start_display 90 120
export XDG_RUNTIME_DIR=$state/sound/runtime
# Tests that move files to the trash or write settings do so in here, never in $HOME.
export XDG_DATA_HOME=$state/data HOME=$state/home
mkdir -p "$XDG_DATA_HOME" "$HOME"

ctest --test-dir build --output-on-failure -j2 --timeout 600
