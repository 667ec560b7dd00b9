# Shared by the scripts that run the real program: a private X display, the test sound
# server, and a program folder for one run. Source it; the caller owns cleanup through
# the arrays and folders these functions fill in.

# vt_begin_session PREFIX: a work folder (vt_work) for one run, removed at exit together
# with every process in vt_pids and the sound server a run may start in vt_work/sound.
vt_pids=()
# The project's scripts, wherever the caller has gone since (cleanup runs at its exit).
vt_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vt_begin_session() {
  vt_work=$(mktemp -d "/tmp/$1.XXXXXX")
  trap vt_end_session EXIT
}
vt_sound_dirs=()
vt_end_session() {
  for p in "${vt_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for dir in "$vt_work/sound" "${vt_sound_dirs[@]}"; do
    "$vt_scripts/sound-server.sh" stop "$dir" >/dev/null 2>&1 || true
  done
  rm -rf "$vt_work"
}

# vt_start_display FIRST LAST: starts Xvfb on the first free display number in the range,
# exports DISPLAY and appends its process id to vt_pids.
vt_start_display() {
  local n
  for n in $(seq "$1" "$2"); do [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break; done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  vt_pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$n ]] && break; sleep 0.1; done
}

# vt_ensure_sound_server: starts the test sound server in vt_work/sound unless
# PULSE_SERVER is already set, exporting PULSE_SERVER and VT_SOUND_DIR (its state folder,
# for scripts/sound-server.sh signal and restart-server); vt_end_session stops it.
vt_ensure_sound_server() {
  if [[ -z ${PULSE_SERVER:-} ]]; then
    local exports
    exports=$("$vt_scripts/sound-server.sh" start "$vt_work/sound") || return 1
    eval "$exports"
    export PULSE_SERVER
  fi
}

# For a program run without a display: a sound server, no display, and a runtime folder of
# this run's own for the command socket.
vt_headless_environment() {
  vt_ensure_sound_server
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  export XDG_RUNTIME_DIR=$vt_work/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
}

# vt_start_sound_server KIND [DIR]: starts the test sound server in DIR (vt_work/sound) as
# KIND (pulseaudio or pipewire), in place of one running there, and prints one line naming
# it and its version. Exports PULSE_SERVER, VT_SOUND_DIR and VT_SOUND_SERVER, so that a test
# that starts a server of its own starts one of the same kind.
vt_start_sound_server() {
  local dir=${2:-$vt_work/sound} exports
  vt_sound_dirs+=("$dir")
  exports=$(VT_SOUND_SERVER=$1 "$vt_scripts/sound-server.sh" start "$dir") || return 1
  eval "$exports"
  export PULSE_SERVER VT_SOUND_SERVER=$1
  "$vt_scripts/sound-server.sh" describe "$dir"
}

# vt_make_home HOME BUILD SAVEFOLDER: a program folder using the build's encoders, with
# MP3 128 kbit/s at 48 kHz recording into SAVEFOLDER.
vt_make_home() {
  mkdir -p "$1"
  ln -s "$2/Plugins" "$1/Plugins"
  cat > "$1/vantrel.ini" <<INI
[Options]
SaveFolder=$3
[Device]
SampleRate=48000
[Encoder]
Name=MP3 128 kbit/s
Cmd=lame --quiet -b 128 - ::s
Ext=mp3
INI
}

# vt_main_window: waits for the main window and prints its X window id.
vt_main_window() {
  local wid
  for _ in $(seq 50); do
    wid=$(xdotool search --name '^Vantrel \(' 2>/dev/null | tail -1)
    [[ -n $wid ]] && { echo "$wid"; return 0; }
    sleep 0.2
  done
  return 1
}

# vt_start_test_services FIRST LAST [KIND [PLACE]]: what the test suite runs against: a sound
# server of its own in vt_work/PLACE/sound (whatever PULSE_SERVER the caller had;
# VT_SOUND_DIR names that folder for tests that change its signal or restart it), of KIND
# (VT_SOUND_SERVER, or pulseaudio, unless given), an X display from the range, and runtime,
# data and home folders in vt_work/PLACE, so that tests that move files to the trash or
# write settings never touch the user's. Two PLACEs run side by side without meeting.
vt_start_test_services() {
  local place=$vt_work/${4:-.}
  vt_start_sound_server "${3:-${VT_SOUND_SERVER:-pulseaudio}}" "$place/sound"
  vt_start_display "$1" "$2"
  export XDG_RUNTIME_DIR=$place/sound/runtime XDG_DATA_HOME=$place/data HOME=$place/home
  mkdir -p "$XDG_DATA_HOME" "$HOME"
}

# Clock ticks of CPU (user + system) that process $1 has used so far; CLK_TCK a second.
vt_cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# The encoder that the program $1 runs, once it records; fails naming the program's log $2.
vt_program_encoder() {
  local encoder
  encoder=$(pgrep -P "$1" | head -1 || true)
  if [[ -z $encoder ]]; then
    echo "$(basename "$0"): the program runs no encoder; is it recording? See $2:" >&2
    tail -5 "$2" >&2
    return 1
  fi
  echo "$encoder"
}
