#!/usr/bin/env bash
# CPU while recording 48 kHz stereo from the test sound server, measured over the same span
# in one run for three recorders of the same source running side by side:
#   - the program with its window and meter shown on an Xvfb display, recording MP3 at
#     128 kbit/s through its encoder (lame): its own CPU, its encoder's, and their sum;
#   - parec writing the raw samples away: the cost of capture alone;
#   - ffmpeg -f pulse encoding to MP3 with the program's encoder settings (LAME, CBR
#     128 kbit/s, quality 3, which is lame's default): the same work done by one process.
# Prints percentages of one core and the ratios.
#
#   bench/cpu/cpu_while_recording.sh [seconds]      (default 60; needs a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
seconds=${1:-60}
source scripts/lib/desktop.sh
vt_begin_session vantrel-cpu
work=$vt_work

vt_ensure_sound_server
vt_start_display 161 190
unset QT_QPA_PLATFORM

home=$work/home
vt_make_home "$home" "$build" "$work/Recordings"

"$program" --home "$home" >"$work/vantrel.log" 2>&1 &
app=$!
vt_pids+=($app)
wid=$(vt_main_window)
sleep 1
xdotool mousemove --window "$wid" 160 81 click 1   # Record
parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 >/dev/null &
ref=$!
vt_pids+=($ref)
ffmpeg -nostdin -loglevel error -f pulse -sample_rate 48000 -channels 2 -i default \
  -c:a libmp3lame -b:a 128k -compression_level 3 "$work/ffmpeg.mp3" 2>"$work/ffmpeg.log" &
ff=$!
vt_pids+=($ff)
sleep 3   # past the start
encoder=$(vt_program_encoder "$app" "$work/vantrel.log")

hz=$(getconf CLK_TCK)
a0=$(vt_cpu_ticks "$app"); e0=$(vt_cpu_ticks "$encoder"); r0=$(vt_cpu_ticks "$ref"); f0=$(vt_cpu_ticks "$ff"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(vt_cpu_ticks "$app"); e1=$(vt_cpu_ticks "$encoder"); r1=$(vt_cpu_ticks "$ref"); f1=$(vt_cpu_ticks "$ff"); t1=$(date +%s.%N)
recording=$(ls "$work/Recordings" 2>/dev/null | head -1)
awk -v a=$((a1 - a0)) -v e=$((e1 - e0)) -v r=$((r1 - r0)) -v f=$((f1 - f0)) -v hz="$hz" \
    -v t0="$t0" -v t1="$t1" -v file="$recording" -v enc="$(cat "/proc/$encoder/comm")" 'BEGIN {
  wall = t1 - t0
  pa = 100 * a / hz / wall; pe = 100 * e / hz / wall; pr = 100 * r / hz / wall; pf = 100 * f / hz / wall
  printf "measured %.1f s of recording (%s), %% of one core over the same span:\n", wall, (file == "" ? "NO FILE WRITTEN" : file)
  printf "  vantrel itself (window, meter, capture, feed)   %6.2f %%\n", pa
  printf "  vantrel'"'"'s encoder (%s, MP3 128 kbit/s)         %6.2f %%\n", enc, pe
  printf "  vantrel with its encoder                        %6.2f %%\n", pa + pe
  printf "  parec, raw capture of the same source           %6.2f %%\n", pr
  printf "  ffmpeg -f pulse, MP3 128 kbit/s                 %6.2f %%\n", pf
  printf "vantrel itself / parec: %.2fx   vantrel with encoder / ffmpeg: %.2fx\n", (pr > 0 ? pa / pr : 0), (pf > 0 ? (pa + pe) / pf : 0)
}'
