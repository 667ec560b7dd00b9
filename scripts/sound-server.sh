#!/usr/bin/env bash
# A private PulseAudio server for the tests: a null sink "vtsrc" fed in real time with a
# 440 Hz sine at 48000 Hz (its monitor is the default source) and a null sink "vtout" as the
# default playback sink. Clients find it through PULSE_SERVER. Both sinks run at 48000 Hz
# s16le stereo, so 48 kHz streams pass bit for bit. The feeder buffers 250 ms: with less, a
# busy machine starves it and the sink plays a moment of silence that every capture hears.
#
#   scripts/sound-server.sh start DIR   starts it; prints "export PULSE_SERVER=..." lines
#   scripts/sound-server.sh stop DIR    stops the feeder and the server by their process ids
set -euo pipefail

cmd=${1:?start|stop}
dir=${2:?state folder}

stop_server() {
  for f in feeder.pid server.pid; do
    if [[ -f $dir/$f ]]; then
      pid=$(cat "$dir/$f")
      # The feeder is a process group (sox | pacat); end it whole.
      kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
      rm -f "$dir/$f"
    fi
  done
}

case $cmd in
start)
  mkdir -p "$dir/runtime" "$dir/state"
  chmod 700 "$dir/runtime"
  stop_server
  socket=$dir/pulse.sock
  rm -f "$socket"
  cat > "$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
load-module module-null-sink sink_name=vtsrc sink_properties=device.description=vtsrc rate=48000 format=s16le channels=2
load-module module-null-sink sink_name=vtout sink_properties=device.description=vtout rate=48000 format=s16le channels=2
set-default-sink vtout
set-default-source vtsrc.monitor
PA
  # Root needs --system=no plus a private runtime dir; HOME keeps cookies out of the user's.
  export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/state PULSE_STATE_PATH=$dir/state
  setsid pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
    --disallow-exit --disable-shm=no --log-target=file:"$dir/server.log" \
    -F "$dir/server.pa" </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/server.pid"
  export PULSE_SERVER=unix:$socket
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  if ! pactl info >/dev/null 2>&1; then
    echo "sound-server: the test PulseAudio server did not start; see $dir/server.log" >&2
    stop_server; exit 1
  fi
  setsid bash -c "sox -q -n -r 48000 -c 2 -b 16 -e signed -t raw - synth 3600 sine 440 vol 0.5 \
    | pacat --raw --rate=48000 --channels=2 --format=s16le --latency-msec=250 -d vtsrc" \
    </dev/null >"$dir/feeder.log" 2>&1 &
  echo $! > "$dir/feeder.pid"
  # Started means the signal flows: a fresh server delivers its first captured block a
  # second or two late, which a test timing its recording by the clock would count as lost.
  if ! timeout 10 bash -c 'parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 \
         | head -c 38400 >/dev/null' 2>/dev/null; then
    echo "sound-server: no signal from the test source within 10 s; see $dir/feeder.log" >&2
    stop_server; exit 1
  fi
  echo "export PULSE_SERVER=unix:$socket"
  ;;
stop)
  stop_server
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
