#!/usr/bin/env bash
# The web server under load while the program records. The program runs headless with
# [Web] Listen on a loopback port, its archive already holding a 100 MB WAV (48 kHz stereo
# 16-bit, a sine of 521 s), and records MP3 128 kbit/s from the test sound server from
# before the load starts until after it ends. Meanwhile (bench/web/load.py, each role a
# process of its own):
#   - 50 clients read random 1 MiB ranges of the WAV from /recordings/<id> over and over,
#     each answer checked for 206, its Content-Range and the file's bytes at that offset;
#   - one slow client sends a request one byte a second, then falls silent for up to 40 s
#     after the load (so a run takes about 50 s more than its seconds);
#   - a prober fetches / and /api/status every 250 ms and times each answer.
# Prints the bytes served and MB/s, the range errors (target: none), the answer times of
# the page and the status (median, p95, max; target: max under 200 ms), the CPU of the
# program and of its encoder over the span (% of one core), whether audio was lost (the
# event log's dropped and capture-lost lines, none wanted; the recording's length against
# the time it recorded, within 1 s wanted) and what the slow client got. Exits 1, saying
# why, when a target is missed, or when /api/archive does not list the archive the program
# loaded at its start (it then records 2 s first, which publishes it, and goes on).
#
#   bench/web/web_load.sh [seconds]      (default 30; needs a build of vantrel and vt_plugins)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
seconds=${1:-30}
load=$top/bench/web/load.py
source scripts/lib/desktop.sh
vt_begin_session vantrel-web-load
work=$vt_work

vt_headless_environment

home=$work/home
saves=$work/Recordings
vt_make_home "$home" "$build" "$saves"
mkdir -p "$saves" "$home/Log"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port
cat >> "$home/vantrel.ini" <<INI
[Web]
Listen=127.0.0.1:$port
[Alarm]
DiskHours=0
INI

# The archived recording: 521 s of 48 kHz stereo 16-bit is 100 032 044 bytes as a WAV.
start_of_old=$(date -d '1 hour ago' '+%Y-%m-%d %H:%M:%S')
old=$saves/$(date -d "$start_of_old" '+%Y-%m-%d_%H-%M-%S').wav
sox -n -r 48000 -c 2 -b 16 "$old" synth 521 sine 440 vol 0.5
printf '[Item0]\nDateTime=%s\nFilename=%s\nLength=521\n' "$start_of_old" "$old" >"$home/Log/VantrelArchive.ini"

"$program" --home "$home" --headless 2>"$work/vantrel.log" &
app=$!
vt_pids+=($app)
for _ in $(seq 50); do "$program" --home "$home" --command status >/dev/null 2>&1 && break; sleep 0.2; done
# The archived recording's id as /api/archive gives it, waiting up to 5 s.
archive_id() {
  local id
  for _ in $(seq 25); do
    id=$(curl -s "$base/api/archive" | python3 -c '
import json, sys
for r in json.load(sys.stdin)["recordings"]:
    if r["file"] == sys.argv[1]: print(r["id"])' "$(basename "$old")" 2>/dev/null) && [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
failed=()
if ! id=$(archive_id); then
  # The program publishes its archive to the web server when the archive changes; a
  # recording that ends changes it.
  failed+=("/api/archive did not list the archive loaded at the start, only after a recording ended")
  echo "web_load.sh: /api/archive does not list the archive loaded at the start; recording 2 s to change it" >&2
  "$program" --home "$home" --command record >/dev/null 2>&1; sleep 2
  "$program" --home "$home" --command stop >/dev/null 2>&1
  if ! id=$(archive_id); then
    echo "web_load.sh: $base/api/archive does not list $(basename "$old"):" >&2
    tail -5 "$work/vantrel.log" >&2
    exit 1
  fi
fi
ls "$saves" >"$work/before.txt"

t_record=$(date +%s.%N)
if ! "$program" --home "$home" --command record >"$work/record.txt" 2>&1 \
   || ! grep -q '^recording: yes' "$work/record.txt"; then
  echo "web_load.sh: the program did not start recording:" >&2
  cat "$work/record.txt" >&2; tail -5 "$work/vantrel.log" >&2
  exit 1
fi
t_recording=$(date +%s.%N)
sleep 3   # past the start
encoder=$(vt_program_encoder "$app" "$work/vantrel.log")
encoder_name=$(cat "/proc/$encoder/comm")

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
python3 "$load" slow "$base" "$seconds" >"$work/slow.txt" 2>&1 &
slow=$!
vt_pids+=($slow)
hz=$(getconf CLK_TCK)
a0=$(vt_cpu_ticks "$app"); e0=$(vt_cpu_ticks "$encoder"); t0=$(date +%s.%N)
python3 "$load" probe "$base" "$seconds" 250 200 >"$work/probe.txt" 2>&1 &
probe=$!
vt_pids+=($probe)
python3 "$load" ranges "$base" "$id" "$old" "$seconds" 50 1048576 >"$work/ranges.txt" 2>&1 && ranges_rc=0 || ranges_rc=$?
wait "$probe" && probe_rc=0 || probe_rc=$?
a1=$(vt_cpu_ticks "$app"); e1=$(vt_cpu_ticks "$encoder"); t1=$(date +%s.%N)
sleep 2
t_stop=$(date +%s.%N)
"$program" --home "$home" --command stop >"$work/stop.txt" 2>&1 || true
t_stopped=$(date +%s.%N)
wait "$slow" || true
kill -TERM "$app"; wait "$app" || true

echo "machine: $(nproc) cores, load average $load_before before the load (others' work shares them)"
cat "$work/ranges.txt"; [[ $ranges_rc == 0 ]] || failed+=("range answers (see above)")
cat "$work/probe.txt"; [[ $probe_rc == 0 ]] || failed+=("page and status answers (see above)")
awk -v a=$((a1 - a0)) -v e=$((e1 - e0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" \
    -v enc="$encoder_name" 'BEGIN {
  wall = t1 - t0
  printf "CPU over the %.1f s of load, %% of one core:\n", wall
  printf "  vantrel --headless (web server, capture, feed)   %6.2f %%\n", 100 * a / hz / wall
  printf "  its encoder (%s, MP3 128 kbit/s)                %6.2f %%\n", enc, 100 * e / hz / wall
}'

# Audio: the event log's word for every loss, and the recording against the time it ran.
losses=$(cut -f2 "$home/Log/events.log" 2>/dev/null | grep -cE '^(dropped|capture-lost)$' || true)
# Every file this recording wrote: one, unless it went on into another.
recorded=0
written=$(ls "$saves" | grep -vxF -f "$work/before.txt" || true)
for f in $written; do
  f=$saves/$f
  d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f")
  recorded=$(awk -v a="$recorded" -v b="$d" 'BEGIN { print a + b }')
done
echo "audio:"
echo "  event log: $losses dropped or capture-lost lines"
grep -E $'\t(dropped|capture-lost)\t' "$home/Log/events.log" 2>/dev/null | sed 's/^/    /' | head -5 || true
read -r off verdict < <(awk -v r="$recorded" -v a="$t_record" -v b="$t_recording" -v c="$t_stop" -v d="$t_stopped" 'BEGIN {
  # The recording began while the record command ran and ended while the stop command ran.
  lo = c - b; hi = d - a
  off = (r < lo) ? r - lo : (r > hi ? r - hi : 0)
  printf "%.2f %s\n", off, (off <= 1 && off >= -1) ? "ok" : "off" }')
awk -v r="$recorded" -v a="$t_record" -v b="$t_recording" -v c="$t_stop" -v d="$t_stopped" -v off="$off" 'BEGIN {
  printf "  recorded %.2f s by ffprobe; the commands put the recording between %.2f and %.2f s: %+.2f s outside (target: within 1 s)\n", r, c - b, d - a, off }'
[[ $losses == 0 ]] || failed+=("$losses losses of audio in the event log")
[[ $verdict == ok ]] || failed+=("the recording is $off s off the time it ran")
[[ -n $written ]] || failed+=("no recording written")
cat "$work/slow.txt"

if ((${#failed[@]})); then
  printf 'FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "all targets met"
