#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal, runs the whole test suite against it and stops the server, whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

source scripts/lib/desktop.sh
vt_begin_session vantrel-test
trap 'exit 130' INT TERM
# The in-process widget tests use the offscreen platform; the display is for the tests
# that run the program as a user would.
vt_start_test_services 90 120

ctest --test-dir build --output-on-failure -j2 --timeout 600
