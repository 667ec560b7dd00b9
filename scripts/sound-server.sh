#!/usr/bin/env bash
# A private sound server for the tests: a null sink "vtsrc" fed in real time with a test
# signal at 48000 Hz (its monitor is the default source) and a null sink "vtout" as the
# default playback sink. Clients find it through PULSE_SERVER; tests that change the signal
# or stop the server find its state folder through VT_SOUND_DIR. Both sinks run at 48000 Hz
# stereo with every volume at 100 %, so 48 kHz s16le streams pass bit for bit. The feed
# buffers 250 ms: with less, a busy machine starves it and the sink plays a moment of
# silence that every capture hears.
#
# VT_SOUND_SERVER chooses the server at start (later commands follow the folder's):
#   pulseaudio  (the default) one pulseaudio process; the sinks mix in s16le.
#   pipewire    pipewire, wireplumber and pipewire-pulse on a session bus of their own. The
#               sinks are nodes of pipewire's own configuration, so they exist before any
#               client and outlive pipewire-pulse; they mix in float, which carries 16-bit
#               samples exactly. wireplumber watches no hardware: it never opens a sound card.
#               "The server" of stop-server and start-server is pipewire-pulse, the one
#               PULSE_SERVER reaches: its clients lose their connection when it goes, as
#               with pulseaudio, while the graph and the sinks stay up.
# Everything either keeps (runtime folder, bus, configuration, state) stays inside DIR.
#
# The signal comes from the build's vt_test_feeder (VT_TEST_FEEDER, or
# build/tests/support/vt_test_feeder): a 440 Hz sine at half scale, a counting signal
# (left = low 16 bits of the frame number, right = high 16 bits) or silence. Without it,
# sox plays the sine and the signal cannot be changed.
#
#   scripts/sound-server.sh start DIR          starts it; prints "export PULSE_SERVER=..." and
#                                              "export VT_SOUND_DIR=..." lines
#   scripts/sound-server.sh stop DIR           stops the feed and every server process by its
#                                              process id
#   scripts/sound-server.sh describe DIR       prints "sound server: NAME VERSION" as the
#                                              running server reports itself
#   scripts/sound-server.sh signal DIR MODE    MODE: sine, count or silence; captures hear the
#                                              change within about 0.3 s
#   scripts/sound-server.sh stop-server DIR    stops the server alone; the feed waits for it
#   scripts/sound-server.sh start-server DIR   starts it again on the same socket with the same
#                                              sinks; returns once the signal flows again
#   scripts/sound-server.sh restart-server DIR SECONDS   both, SECONDS apart
set -euo pipefail

cmd=${1:?start|stop|describe|signal|stop-server|start-server|restart-server}
dir=${2:?state folder}
root=$(cd "$(dirname "$0")/.." && pwd)
feeder=${VT_TEST_FEEDER:-$root/build/tests/support/vt_test_feeder}
if [[ $cmd == start ]]; then
  mkdir -p "$dir/runtime" "$dir/state" "$dir/config"
  chmod 700 "$dir/runtime"
fi
[[ -d $dir ]] && dir=$(cd "$dir" && pwd)
socket=$dir/pulse.sock
kind=${VT_SOUND_SERVER:-pulseaudio}
[[ $cmd != start && -f $dir/server.kind ]] && kind=$(cat "$dir/server.kind")
case $kind in
pulseaudio | pipewire) ;;
*) echo "sound-server: unknown VT_SOUND_SERVER '$kind' (pulseaudio or pipewire)" >&2; exit 2 ;;
esac

# Nothing of the user's session: a private runtime folder (which root needs besides
# --system=no), HOME and XDG_CONFIG_HOME keep cookies, configuration and state in DIR, the
# session bus is the one start makes for PipeWire (for PulseAudio none answers there), and
# no display.
export XDG_RUNTIME_DIR=$dir/runtime HOME=$dir/state PULSE_STATE_PATH=$dir/state XDG_CONFIG_HOME=$dir/config
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus
unset XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME DISPLAY WAYLAND_DISPLAY \
  PIPEWIRE_RUNTIME_DIR PIPEWIRE_REMOTE PIPEWIRE_CONFIG_DIR WIREPLUMBER_CONFIG_DIR
export PULSE_SERVER=unix:$socket

# running PID: whether the process still runs. A zombie counts as gone: it has closed its
# sockets already, and the reaper of orphans may take seconds to collect it.
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [[ ${stat%% *} != Z ]]
}

# end_process FILE: ends the process group whose leader's id FILE holds, then removes FILE.
end_process() {
  local f=$dir/$1 pid
  [[ -f $f ]] || return 0
  pid=$(cat "$f")
  kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
  kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
  rm -f "$f"
}

stop_all() {
  end_process feeder.pid
  end_process server.pid
  end_process session-manager.pid
  end_process pipewire.pid
  end_process bus.pid
  rm -f "$dir/signal"
}

# failed WHAT LOG: says that WHAT failed, with the end of its log (a test's folder, and the
# log with it, may be gone by the time anyone looks).
failed() {
  echo "sound-server: $1; see $dir/$2:" >&2
  tail -n 8 "$dir/$2" 2>/dev/null | sed 's/^/  /' >&2 || true
  return 1
}

# wait_for_socket PATH LOG WHAT: until PATH exists (10 s at most); fails naming WHAT and its log.
wait_for_socket() {
  for _ in $(seq 200); do [[ -S $1 ]] && return 0; sleep 0.05; done
  failed "$3 did not start" "$2"
}

write_pipewire_config() {
  local sink conf=$dir/config
  mkdir -p "$conf/pipewire/pipewire.conf.d" "$conf/pipewire/pipewire-pulse.conf.d" \
    "$conf/wireplumber/main.lua.d" "$conf/wireplumber/bluetooth.lua.d"
  {
    echo 'context.properties = { default.clock.rate = 48000  default.clock.allowed-rates = [ 48000 ] }'
    echo 'context.objects = ['
    for sink in vtsrc vtout; do
      cat <<CONF
    { factory = adapter
      args = {
        factory.name = support.null-audio-sink
        node.name = $sink
        node.description = $sink
        media.class = Audio/Sink
        audio.rate = 48000
        audio.channels = 2
        audio.position = [ FL FR ]
        monitor.channel-volumes = true
      }
    }
CONF
    done
    echo ']'
  } > "$conf/pipewire/pipewire.conf.d/vantrel-test.conf"
  echo "pulse.properties = { server.address = [ \"unix:$socket\" ] }" \
    > "$conf/pipewire/pipewire-pulse.conf.d/vantrel-test.conf"
  printf '%s\n' 'alsa_monitor.enabled = false' 'v4l2_monitor.enabled = false' \
    'libcamera_monitor.enabled = false' > "$conf/wireplumber/main.lua.d/51-vantrel-test.lua"
  echo 'bluez_monitor.enabled = false' > "$conf/wireplumber/bluetooth.lua.d/51-vantrel-test.lua"
}

# The session bus, pipewire with the sinks, and wireplumber, until wireplumber has made the
# "default" metadata that the default sink and source are kept in.
start_pipewire_graph() {
  write_pipewire_config
  rm -f "$dir/runtime/bus" "$dir/runtime/pipewire-0"  # a stale one would pass for ready
  setsid dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS" \
    </dev/null >"$dir/bus.log" 2>&1 &
  echo $! > "$dir/bus.pid"
  wait_for_socket "$dir/runtime/bus" bus.log "the session bus" || return 1
  setsid pipewire </dev/null >"$dir/pipewire.log" 2>&1 &
  echo $! > "$dir/pipewire.pid"
  wait_for_socket "$dir/runtime/pipewire-0" pipewire.log pipewire || return 1
  setsid wireplumber </dev/null >"$dir/session-manager.log" 2>&1 &
  echo $! > "$dir/session-manager.pid"
  for _ in $(seq 200); do
    # Read whole, not piped into grep -q: under pipefail a reader that leaves early would
    # fail the check with SIGPIPE.
    [[ $(pw-metadata -n default 2>/dev/null) == 'Found "default" metadata'* ]] && return 0
    sleep 0.05
  done
  failed "wireplumber did not make its metadata within 10 s" session-manager.log
}

launch_server() {
  rm -f "$socket"
  if [[ $kind == pipewire ]]; then
    env -u PULSE_SERVER setsid pipewire-pulse </dev/null >"$dir/server.log" 2>&1 &
  else
    env -u PULSE_SERVER setsid pulseaudio --daemonize=no --use-pid-file=no --exit-idle-time=-1 -n \
      --disallow-exit --disable-shm=no --log-target=file:"$dir/server.log" \
      -F "$dir/server.pa" </dev/null >/dev/null 2>&1 &
  fi
  echo $! > "$dir/server.pid"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && return 0; sleep 0.1; done
  failed "the test $kind server did not answer within 10 s" server.log
}

# Started means the signal flows: a fresh server delivers its first captured block a
# second or two late, which a test timing its recording by the clock would count as lost.
wait_for_signal() {
  if ! timeout 10 bash -c 'parec --raw --rate=48000 --channels=2 --format=s16le --latency-msec=20 \
         | head -c 38400 >/dev/null' 2>/dev/null; then
    failed "no signal from the test source within 10 s" feeder.log
  fi
}

# The pulseaudio server's configuration; PipeWire's sinks are in its own, and its defaults
# are set once pipewire-pulse answers (wireplumber keeps them across its restarts).
write_pulseaudio_config() {
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
}

start_servers() {
  echo "$kind" > "$dir/server.kind"
  if [[ $kind == pipewire ]]; then
    start_pipewire_graph && launch_server &&
      pactl set-default-sink vtout && pactl set-default-source vtsrc.monitor
  else
    write_pulseaudio_config
    launch_server
  fi
}

case $cmd in
start)
  stop_all
  start_servers || { stop_all; exit 1; }
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
describe)
  info=$(LC_ALL=C pactl info 2>/dev/null) || { echo "sound-server: no test server answers in $dir" >&2; exit 1; }
  name=$(sed -n 's/^Server Name: //p' <<<"$info")
  version=$(sed -n 's/^Server Version: //p' <<<"$info")
  if [[ $name =~ \(on\ PipeWire\ ([^\)]+)\) ]]; then
    echo "sound server: PipeWire ${BASH_REMATCH[1]} (pipewire-pulse)"
  elif [[ $name == pulseaudio ]]; then
    echo "sound server: PulseAudio $version"
  else
    echo "sound server: $name $version"
  fi
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
  echo "usage: $0 start|stop|describe|signal|stop-server|start-server|restart-server DIR [MODE|SECONDS]" >&2
  exit 2 ;;
esac
