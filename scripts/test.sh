#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal and runs the whole test suite against it; then runs the tests that use the
# sound server once more on a private PipeWire server (pipewire-pulse), as Debian 12's
# desktops have. Each run begins with a line naming the server and its version; a failure
# in either fails the script. The servers are stopped whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

source scripts/lib/desktop.sh
vt_begin_session vantrel-test
trap 'exit 130' INT TERM
# The in-process widget tests use the offscreen platform; the display is for the tests
# that run the program as a user would.
vt_start_test_services 90 120 pulseaudio

status=0
ctest --test-dir build --output-on-failure -j2 --timeout 600 || status=1

vt_start_sound_server pipewire
ctest --test-dir build --output-on-failure -j2 --timeout 600 -L integration || status=1
exit $status
