#!/usr/bin/env bash
# A private PulseAudio server for the tests: a null sink "vtsrc" fed in real time with a test
# signal at 48000 Hz (its monitor is the default source) and a null sink "vtout" as the
# default playback sink. Clients find it through PULSE_SERVER; tests that change the signal
# or stop the server find its state folder through VT_SOUND_DIR. Both sinks run at 48000 Hz
# s16le stereo with every volume at 100 %, so 48 kHz streams pass bit for bit. The feed
# buffers 250 ms: with less, a busy machine starves it and the sink plays a moment of
# silence that every capture hears.
#
# The signal comes from the build's vt_test_feeder (VT_TEST_FEEDER, or
# build/tests/support/vt_test_feeder): a 440 Hz sine at half scale, a counting signal
# (left = low 16 bits of the frame number, right = high 16 bits) or silence. Without it,
# sox plays the sine and the signal cannot be changed.
#
#   scripts/sound-server.sh start DIR          starts it; prints "export PULSE_SERVER=..." and
#                                              "export VT_SOUND_DIR=..." lines
#   scripts/sound-server.sh stop DIR           stops the feed and the server by their process ids
#   scripts/sound-server.sh signal DIR MODE    MODE: sine, count or silence; captures hear the
#                                              change within about 0.3 s
#   scripts/sound-server.sh stop-server DIR    stops the server alone; the feed waits for it
#   scripts/sound-server.sh start-server DIR   starts it again on the same socket with the same
#                                              sinks; returns once the signal flows again
#   scripts/sound-server.sh restart-server DIR SECONDS   both, SECONDS apart
set -euo pipefail

cmd=${1:?start|stop|signal|stop-server|start-server|restart-server}
dir=${2:?state folder}
root=$(cd "$(dirname "$0")/.." && pwd)
feeder=${VT_TEST_FEEDER:-$root/build/tests/support/vt_test_feeder}
socket=$dir/pulse.sock
# Root needs --system=no plus a private runtime dir; HOME keeps cookies out of the user's.
export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/state PULSE_STATE_PATH=$dir/state
export PULSE_SERVER=unix:$socket

# end_process FILE: ends the process group whose leader's id FILE holds, then removes FILE.
end_process() {
  local f=$dir/$1 pid
  [[ -f $f ]] || return 0
  pid=$(cat "$f")
  kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  rm -f "$f"
}

stop_all() {
  end_process feeder.pid
  end_process server.pid
  rm -f "$dir/signal"
}

launch_server() {
  rm -f "$socket"
  env -u PULSE_SERVER setsid pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
    --disallow-exit --disable-shm=no --log-target=file:"$dir/server.log" \
    -F "$dir/server.pa" </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/server.pid"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "sound-server: the test PulseAudio server did not start; see $dir/server.log" >&2
  return 1
}

# Started means the signal flows: a fresh server delivers its first captured block a
# second or two late, which a test timing its recording by the clock would count as lost.
wait_for_signal() {
  if ! timeout 10 bash -c 'parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 \
         | head -c 38400 >/dev/null' 2>/dev/null; then
    echo "sound-server: no signal from the test source within 10 s; see $dir/feeder.log" >&2
    return 1
  fi
}

case $cmd in
start)
  mkdir -p "$dir/runtime" "$dir/state"
  chmod 700 "$dir/runtime"
  dir=$(cd "$dir" && pwd)
  socket=$dir/pulse.sock
  export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/state PULSE_STATE_PATH=$dir/state
  export PULSE_SERVER=unix:$socket
  stop_all
  cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
load-module module-null-sink sink_name=vtsrc sink_properties=device.description=vtsrc rate=48000 format=s16le channels=2
load-module module-null-sink sink_name=vtout sink_properties=device.description=vtout rate=48000 format=s16le channels=2
set-sink-volume vtsrc 65536
set-source-volume vtsrc.monitor 65536
set-sink-volume vtout 65536
set-default-sink vtout
set-default-source vtsrc.monitor
PA
  launch_server || { stop_all; exit 1; }
  if [[ -x $feeder ]]; then
    echo sine > "$dir/signal"
    source=("$feeder" "$dir/signal")
  else
    source=(bash -c 'while :; do sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth 3600 sine 440 vol 0.5; done')
  fi
  # pacat ends when the server goes away; the next one waits for it to come back and goes
  # on reading the same feed.
  setsid bash -c '"$@" | while :; do
      pacat --raw --rate=48000 --channels=2 --format=s16le --latency-msec=250 --volume=65536 -d vtsrc
      sleep 0.2
    done' feed "${source[@]}" </dev/null >"$dir/feeder.log" 2>&1 &
  echo $! > "$dir/feeder.pid"
  wait_for_signal || { stop_all; exit 1; }
  echo "export PULSE_SERVER=unix:$socket"
  echo "export VT_SOUND_DIR=$dir"
  ;;
stop)
  stop_all
  ;;
signal)
  mode=${3:?sine|count|silence}
  case $mode in
  sine | count | silence) ;;
  *) echo "sound-server: unknown signal '$mode' (sine, count or silence)" >&2; exit 2 ;;
  esac
  if [[ ! -f $dir/signal ]]; then
    echo "sound-server: the signal cannot be changed: no test server in $dir, or it plays" \
         "sox's sine because vt_test_feeder is not built" >&2
    exit 1
  fi
  echo "$mode" > "$dir/signal.new"
  mv -f "$dir/signal.new" "$dir/signal"
  ;;
stop-server)
  end_process server.pid
  ;;
start-server)
  launch_server && wait_for_signal
  ;;
restart-server)
  seconds=${3:?seconds}
  end_process server.pid
  sleep "$seconds"
  launch_server && wait_for_signal
  ;;
*)
  echo "usage: $0 start|stop|signal|stop-server|start-server|restart-server DIR [MODE|SECONDS]" >&2
  exit 2 ;;
esac
