#!/usr/bin/env bash
# CPU used by the program itself (not its encoder) while it records 48 kHz stereo with the
# window and the meter shown on an Xvfb display, and, in the same run, by parec recording
# the same source as a reference. Prints percentages of one core.
#
#   bench/cpu/cpu_while_recording.sh [seconds]      (default 60; needs a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
seconds=${1:-60}
source scripts/lib/desktop.sh
vt_begin_session vantrel-cpu
work=$vt_work

vt_ensure_sound_server
vt_start_display 161 190
unset QT_QPA_PLATFORM

home=$work/home
vt_make_home "$home" "$build" "$work/Recordings"

"$build/vantrel" --home "$home" >"$work/vantrel.log" 2>&1 &
app=$!
vt_pids+=($app)
wid=$(vt_main_window)
sleep 1
xdotool mousemove --window "$wid" 160 81 click 1   # Record
parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 >/dev/null &
ref=$!
vt_pids+=($ref)
sleep 3   # past the start

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
a0=$(ticks "$app"); r0=$(ticks "$ref"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(ticks "$app"); r1=$(ticks "$ref"); t1=$(date +%s.%N)
recording=$(ls "$work/Recordings" 2>/dev/null | head -1)
awk -v a=$((a1 - a0)) -v r=$((r1 - r0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v f="$recording" 'BEGIN {
  wall = t1 - t0
  printf "measured %.1f s of recording (%s)\n", wall, (f == "" ? "NO FILE WRITTEN" : f)
  printf "vantrel (window, meter, capture, feed; encoder excluded): %.2f %% of one core\n", 100 * a / hz / wall
  printf "parec reference, same source:                              %.2f %% of one core\n", 100 * r / hz / wall
}'
