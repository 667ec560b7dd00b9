#!/usr/bin/env bash
# test_install.sh BUILD_DIR
#
# Installs the build into a staging prefix, checks what a desktop and systemd make of the
# installed files, then runs the installed program as a user who never ran it: it must make
# ~/.local/share/vantrel/ from the shipped data, record 5 s with the shipped MP3 preset
# through the test sound server (PULSE_SERVER) and list the file in its archive.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/vantrel-install.XXXXXX)
headless_pid=
cleanup() {
  [[ -n $headless_pid ]] && kill -KILL "$headless_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

stage=$work/stage
cmake --install "$build" --prefix "$stage" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
for f in bin/vantrel lib/vantrel/vtwav \
         share/vantrel/vantrel.ini share/vantrel/system.ini share/vantrel/Presets/Vantrel/Codecs.prs \
         share/vantrel/Lang/En/vtlang.ini share/vantrel/Images/seek-knob.png \
         share/applications/org.vantrel.Vantrel.desktop share/icons/hicolor/scalable/apps/org.vantrel.Vantrel.svg \
         share/metainfo/org.vantrel.Vantrel.metainfo.xml share/man/man1/vantrel.1.gz \
         lib/systemd/user/vantrel.service lib/systemd/user/vantrel@.service; do
  [[ -e $stage/$f ]] || fail "not installed: $f"
done

desktop-file-validate "$stage/share/applications/org.vantrel.Vantrel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$stage/share/metainfo/org.vantrel.Vantrel.metainfo.xml" >"$work/appstream.log" ||
  { cat "$work/appstream.log"; fail "appstreamcli validate"; }
# verify reports a key it cannot parse without failing: any output fails here. It runs
# man for Documentation=, and a user manager needs a runtime folder of its own.
mkdir -m 700 "$work/runtime"
for unit in vantrel.service vantrel@station1.service; do
  out=$(cd "$stage/lib/systemd/user" && XDG_RUNTIME_DIR=$work/runtime MANPATH=$stage/share/man \
        systemd-analyze verify --user "./$unit" 2>&1) || fail "systemd-analyze verify $unit: $out"
  [[ -z $out ]] || fail "systemd-analyze verify $unit: $out"
done
grep -qx "ExecStart=$stage/bin/vantrel --headless --home %h/vantrel/%I" "$stage/lib/systemd/user/vantrel@.service" ||
  fail "vantrel@.service does not run the installed program"

# The Debian package holds exactly what the install puts under its prefix, and says what
# the program needs from the system.
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(echo "$work"/package/vantrel_*.deb)
control=$(dpkg-deb --field "$deb")
for field in "Depends: .*libqt6widgets6.*" "Depends: .*libpulse0.*" "Depends: .*libavformat.*" \
             "Recommends: lame, flac, vorbis-tools, opus-tools, ffmpeg.*" "Section: sound"; do
  grep -qx "$field" <<<"$control" || fail "the package lacks '$field':"$'\n'"$control"
done
diff <(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub("^\\./usr/", "", $6); print $6 }' | sort) \
     <(cd "$stage" && find . ! -type d | sed 's|^\./||' | sort) || fail "the package's files differ from the install's"

if [[ -z ${PULSE_SERVER:-} ]]; then
  echo "SKIP: running the installed program needs the test sound server (PULSE_SERVER)"
  exit 77
fi

# A user who never ran it: no settings anywhere, no display, XDG_DATA_HOME at its default.
home=$work/home
mkdir -p "$home"
user_env=(env -u XDG_DATA_HOME -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home")
vantrel=$stage/bin/vantrel
folder=$home/.local/share/vantrel

# Starts the installed program headless and waits until it answers commands.
start_headless() {
  "${user_env[@]}" "$vantrel" --headless 2>"$work/headless.log" &
  headless_pid=$!
  for _ in $(seq 50); do
    "${user_env[@]}" "$vantrel" --command status >/dev/null 2>&1 && return
    kill -0 "$headless_pid" 2>/dev/null || { cat "$work/headless.log"; fail "the installed program ended at start"; }
    sleep 0.2
  done
  fail "the installed program does not answer"
}
# SIGTERM closes it like the window's close: exit 0, every file written.
stop_headless() {
  kill -TERM "$headless_pid"
  local status=0
  wait "$headless_pid" || status=$?
  headless_pid=
  ((status == 0)) || { cat "$work/headless.log"; fail "the headless program exited with $status after SIGTERM"; }
}

start_headless
for f in vantrel.ini system.ini Presets/Vantrel/Codecs.prs Lang/En/vtlang.ini Log; do
  [[ -e $folder/$f ]] || fail "the first start did not make $folder/$f"
done
[[ $(readlink "$folder/Plugins/lame") == "$(command -v lame)" ]] || fail "Plugins/lame is no link to $(command -v lame)"
[[ $(readlink "$folder/Plugins/vtwav") == "$stage/lib/vantrel/vtwav" ]] || fail "Plugins/vtwav is no link to the installed one"

"${user_env[@]}" "$vantrel" --command record >/dev/null || fail "--command record"
sleep 5
"${user_env[@]}" "$vantrel" --command stop >/dev/null || fail "--command stop"
stop_headless

shopt -s nullglob
recordings=("$home"/Recordings/*.mp3)
((${#recordings[@]} == 1)) || fail "expected one MP3 in ~/Recordings, found ${#recordings[@]}"
recording=${recordings[0]}
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$recording")
awk -v d="$duration" 'BEGIN { exit !(d > 4 && d < 7) }' || fail "the recording holds ${duration} s, not about 5"
index=$folder/Log/VantrelArchive.ini
grep -qxF "Filename=$recording" "$index" || fail "the archive does not list $recording"

# A later start keeps what the user changed and brings back a shipped file the user lost.
echo "; mine" >>"$folder/system.ini"
rm "$folder/Lang/En/vtlang.ini"
start_headless
stop_headless
grep -qx "; mine" "$folder/system.ini" || fail "a later start replaced the user's system.ini"
[[ -e $folder/Lang/En/vtlang.ini ]] || fail "a later start did not restore Lang/En/vtlang.ini"
echo "PASS: installed into $stage, recorded ${duration} s into $recording"
