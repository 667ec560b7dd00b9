#!/usr/bin/env bash
# How close to their seconds the program cuts its files, by a reference capture of the test
# sound server's counting signal (build/bench/cuts/bench_cuts, tests/support/ClockReference.h)
# and by the program's own word in its event log; whether the files hold every frame once;
# and the CPU time of the program beside the reference parec's, per minute of audio. The
# program runs headless, recording WAV at 48 kHz with its own writer, on a private test
# sound server that this script starts. Prints figures; judges nothing.
#
#   bench/cuts/cuts.sh                              60 Record entries 3 s apart, then a Stop
#   bench/cuts/cuts.sh --split-minutes 1 --minutes M   SplitMinutes=1 for M minutes (3 unless given)
#   (needs a build with the tests: the feeder and bench_cuts)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
for tool in "$build/bench/cuts/bench_cuts" "$build/tests/support/vt_test_feeder"; do
  [[ -x $tool ]] || { echo "cuts.sh: $tool is not built; build with the tests first" >&2; exit 1; }
done
source scripts/lib/desktop.sh
vt_begin_session vantrel-cuts
work=$vt_work

# A server of its own: the counting signal must not reach anyone else's tests.
unset PULSE_SERVER
export VT_TEST_FEEDER=$build/tests/support/vt_test_feeder
vt_start_sound_server "${VT_SOUND_SERVER:-pulseaudio}"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

"$build/bench/cuts/bench_cuts" "$program" "$work" "$@"
