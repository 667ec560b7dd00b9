#!/usr/bin/env bash
# CPU while playing a 128 kbit/s MP3 to the test sound server, measured over the same span
# in one run for two players running side by side:
#   - the program on an Xvfb display with the mini player shown, opened the way a user
#     opens it (double click on the record in the Archive tab): decoding, the gain stage,
#     the playback stream and the 100 ms refresh of the window;
#   - paplay playing the same audio as a WAV: the cost of feeding the server alone.
# Prints percentages of one core and their ratio.
#
#   bench/playback/cpu_while_playing.sh [seconds]      (default 25; needs a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
seconds=${1:-25}
settle=3                                   # past the start of both players
length=$(( seconds + settle + 15 > 75 ? seconds + settle + 15 : 75 ))
source scripts/lib/desktop.sh
vt_begin_session vantrel-play-cpu
work=$vt_work
fail() { echo "cpu_while_playing.sh: $*" >&2; exit 1; }

vt_ensure_sound_server
vt_start_display 191 220
unset QT_QPA_PLATFORM

# The same sine as a WAV for paplay and as an MP3 for the program.
sox -n -r 44100 -c 2 -b 16 "$work/sine.wav" synth "$length" sine 440 vol 0.5
lame --quiet -b 128 "$work/sine.wav" "$work/sine.mp3"

home=$work/home
vt_make_home "$home" "$build" "$work/Recordings"
ln -s "$build/Images" "$home/Images"   # the seek bar's pictures, as installed
mkdir -p "$home/Log"
printf '[Item0]\nDateTime=%s\nFilename=%s\nLength=%d\n' \
  "$(date '+%Y-%m-%d %H:%M:%S')" "$work/sine.mp3" "$length" >"$home/Log/VantrelArchive.ini"

"$program" --home "$home" >"$work/vantrel.log" 2>&1 &
app=$!
vt_pids+=($app)
wid=$(vt_main_window) || fail "the main window did not appear; see the log:"$'\n'"$(tail -5 "$work/vantrel.log")"
sleep 1
xdotool mousemove --window "$wid" 111 30 click 1                  # the Archive tab
sleep 1
# The server's own streams (the test source's feeder), before anything plays.
streams=$(pactl list short sink-inputs | wc -l)
xdotool mousemove --window "$wid" 60 76 click --repeat 2 --delay 80 1   # the record
player=
for _ in $(seq 25); do
  player=$(xdotool search --onlyvisible --name '^MiniPlayer$' 2>/dev/null | tail -1 || true)
  [[ -n $player ]] && break
  sleep 0.2
done
[[ -n $player ]] || fail "the mini player did not open after the double click on the archive row; nothing measured. Log:"$'\n'"$(tail -5 "$work/vantrel.log")"

paplay "$work/sine.wav" &
ref=$!
vt_pids+=($ref)
sleep "$settle"
playing() { (( $(pactl list short sink-inputs | wc -l) >= streams + 2 )); }
playing || fail "the program's and paplay's playback streams are not both on the server; nothing measured"

hz=$(getconf CLK_TCK)
a0=$(vt_cpu_ticks "$app"); r0=$(vt_cpu_ticks "$ref"); t0=$(date +%s.%N)
sleep "$seconds"
a1=$(vt_cpu_ticks "$app"); r1=$(vt_cpu_ticks "$ref"); t1=$(date +%s.%N)
xdotool search --onlyvisible --name '^MiniPlayer$' >/dev/null 2>&1 \
  || fail "the mini player closed during the measurement; figures discarded"
playing || fail "a playback stream ended during the measurement; figures discarded"

awk -v a=$((a1 - a0)) -v r=$((r1 - r0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v len="$length" 'BEGIN {
  wall = t1 - t0
  pa = 100 * a / hz / wall; pr = 100 * r / hz / wall
  printf "measured %.1f s of playing a %d s 44.1 kHz stereo sine, %% of one core over the same span:\n", wall, len
  printf "  vantrel, mini player shown, MP3 128 kbit/s   %6.2f %%   (target under 2 %%)\n", pa
  printf "  paplay, the same audio as WAV                %6.2f %%\n", pr
  printf "vantrel / paplay: %s\n", (pr > 0 ? sprintf("%.2fx", pa / pr) : "paplay used no measurable CPU")
}'
