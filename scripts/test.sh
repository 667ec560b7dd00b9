#!/usr/bin/env bash
# Sets up and builds Vantrel, starts a private PulseAudio server with a real-time 440 Hz
# test signal and runs the whole test suite against it; the tests that use the sound server
# run once more on a private PipeWire server (pipewire-pulse), as Debian 12's desktops have.
# Each run begins with a line naming the server and its version; a failure in either fails
# the script. The servers are stopped whatever happens.
#
# The unit tests run first, two at a time. The integration tests wait on real time far more
# than they compute, so the PulseAudio and the PipeWire runs of them go side by side, each
# one test at a time on its own server, display and folders; the PipeWire run's output
# follows the PulseAudio run's. The web server's test runs on PulseAudio only: what it
# checks does not depend on the sound server, and its browser and scraper would only slow
# the other run down.
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
ctest --test-dir build --output-on-failure -j2 --timeout 600 -L unit || status=1

pipewire_log=$vt_work/pipewire.log
vt_sound_dirs+=("$vt_work/pipewire/sound")  # stopped at the end, whatever the run did
(
  vt_pids=()
  trap 'for p in "${vt_pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
  vt_start_test_services 121 150 pipewire pipewire
  ctest --test-dir build --output-on-failure --timeout 600 -L integration -E '^test_web_server$'
) >"$pipewire_log" 2>&1 &
pipewire_run=$!
ctest --test-dir build --output-on-failure --timeout 600 -L integration || status=1
wait "$pipewire_run" || status=1
cat "$pipewire_log"
exit $status
