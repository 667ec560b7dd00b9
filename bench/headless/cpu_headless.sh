#!/usr/bin/env bash
# CPU of the program running without a window (--headless) while it records 48 kHz stereo
# from the test sound server to MP3 at 128 kbit/s, measured over the same span in one run
# beside parec capturing the same source raw: the cost of capture alone. The recording is
# started with --command record, as a user of a display-less machine would. Prints
# percentages of one core and the ratio of the program's own CPU to parec's (target: at
# most 2).
#
#   bench/headless/cpu_headless.sh [seconds]      (default 60; needs a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
seconds=${1:-60}
source scripts/lib/desktop.sh
vt_begin_session vantrel-headless-cpu
work=$vt_work

vt_headless_environment

home=$work/home
vt_make_home "$home" "$build" "$work/Recordings"

"$program" --home "$home" --headless 2>"$work/vantrel.log" &
app=$!
vt_pids+=($app)
for _ in $(seq 50); do "$program" --home "$home" --command status >/dev/null 2>&1 && break; sleep 0.2; done
if ! "$program" --home "$home" --command record >"$work/record.txt" 2>&1 \
   || ! grep -q '^recording: yes' "$work/record.txt"; then
  echo "cpu_headless.sh: the program did not start recording:" >&2
  cat "$work/record.txt" >&2; tail -5 "$work/vantrel.log" >&2
  exit 1
fi
parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 >/dev/null &
ref=$!
vt_pids+=($ref)
sleep 3   # past the start
encoder=$(vt_program_encoder "$app" "$work/vantrel.log")
encoder_name=$(cat "/proc/$encoder/comm")

hz=$(getconf CLK_TCK)
a0=$(vt_cpu_ticks "$app"); e0=$(vt_cpu_ticks "$encoder"); r0=$(vt_cpu_ticks "$ref"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(vt_cpu_ticks "$app"); e1=$(vt_cpu_ticks "$encoder"); r1=$(vt_cpu_ticks "$ref"); t1=$(date +%s.%N)
recording=$(ls "$work/Recordings" 2>/dev/null | head -1)
kill -TERM "$app"; wait "$app" || true
awk -v a=$((a1 - a0)) -v e=$((e1 - e0)) -v r=$((r1 - r0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    -v file="$recording" -v enc="$encoder_name" 'BEGIN {
  wall = t1 - t0
  pa = 100 * a / hz / wall; pe = 100 * e / hz / wall; pr = 100 * r / hz / wall
  printf "measured %.1f s of headless recording (%s), %% of one core over the same span:\n", wall, (file == "" ? "NO FILE WRITTEN" : file)
  printf "  vantrel --headless itself (capture, feed, tick)  %6.2f %%\n", pa
  printf "  its encoder (%s, MP3 128 kbit/s)                 %6.2f %%\n", enc, pe
  printf "  parec, raw capture of the same source            %6.2f %%\n", pr
  printf "vantrel --headless itself / parec: %.2fx (target: at most 2x)\n", (pr > 0 ? pa / pr : 0)
}'
