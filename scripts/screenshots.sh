#!/usr/bin/env bash
# Takes the README's screenshots of the real program on an Xvfb display, recording from
# the test sound server: docs/screenshot.png (a recording running, with a schedule),
# docs/archive.png (with two weeks of coverage), docs/player.png (the mini player playing the
# archive's first record), docs/schedule-dialog.png and docs/settings-dialog.png (F9). Needs a
# build (scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
source scripts/lib/desktop.sh
vt_begin_session vantrel-shots
work=$vt_work

vt_ensure_sound_server
vt_start_display 130 160
unset QT_QPA_PLATFORM
# A light desktop behind the window, as on a real screen.
xsetroot -solid '#5a6e82' 2>/dev/null || true

home=$work/home
vt_make_home "$home" "$build" "$work/Recordings"
mkdir -p "$home/Log" "$home/Presets/Vantrel"
cp "$build/Presets/Vantrel/Codecs.prs" "$home/Presets/Vantrel/"
cp -r "$build/Lang" "$home/Lang"
ln -s "$build/Images" "$home/Images"   # the seek bar's pictures
# A schedule of a working week's news slots, made with the program's own file format.
python3 - "$home/Presets/Vantrel/Default.vts" <<'PY'
import struct, sys
def entry(h, m, length_min, action):
    return struct.pack('<dii', (h * 3600 + m * 60) / 86400.0, length_min * 60000, action)
rows = [entry(6, 0, 60, 1), entry(7, 0, 0, 2), entry(9, 30, 30, 1), entry(12, 0, 0, 1),
        entry(13, 0, 0, 2), entry(18, 0, 120, 1)]
open(sys.argv[1], 'wb').write(b''.join(rows))
PY
# The first record is a real MP3 for the mini player to play; the others are empty files.
sox -n -r 44100 -c 2 -b 16 "$work/sine.wav" synth 45 sine 440 vol 0.5
lame --quiet -b 128 "$work/sine.wav" "$work/sine.mp3"
python3 - "$home/Log/VantrelArchive.ini" "$work/Recordings" "$work/sine.mp3" <<'PY'
import os, shutil, sys, datetime
now = datetime.datetime.now().replace(microsecond=0)
lines = []
for i, (days, h, m, length) in enumerate([(3, 6, 0, 3600), (3, 18, 0, 7200), (2, 6, 0, 3600),
                                          (2, 9, 30, 1800), (1, 6, 0, 3600), (1, 12, 0, 3600),
                                          (0, 6, 0, 3600)]):
    t = (now - datetime.timedelta(days=days)).replace(hour=h, minute=m, second=0)
    name = f"{sys.argv[2]}/{t:%Y-%m-%d_%H-%M-%S}.mp3"
    lines += [f"[Item{i}]", f"DateTime={t:%Y-%m-%d %H:%M:%S}", f"Filename={name}", f"Length={length}", ""]
    # Every file is there but one, which the list shows grey as a file deleted by hand.
    if i != 3:
        os.makedirs(sys.argv[2], exist_ok=True)
        if i == 0:
            shutil.copyfile(sys.argv[3], name)
        else:
            open(name, 'wb').close()
open(sys.argv[1], 'w').write("\n".join(lines))
PY
# Two weeks of the coverage ledger (the tables Ledger.h describes) for the Archive tab's strips:
# the schedule's slots asked and recorded, the archive's files among them, one of them found
# damaged, a loss, a stretch of silence and a slot that went missing.
python3 - "$home/Log/ledger.sqlite" "$work/Recordings" <<'PY'
import sqlite3, sys, datetime
db = sqlite3.connect(sys.argv[1])
db.executescript("""
CREATE TABLE IF NOT EXISTS files (id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, start_ms INTEGER NOT NULL,
  start_local TEXT NOT NULL, frames INTEGER NOT NULL, sample_rate INTEGER NOT NULL, end_ms INTEGER NOT NULL,
  size_bytes INTEGER NOT NULL, sha256 TEXT NOT NULL DEFAULT '', verification TEXT NOT NULL DEFAULT 'unverified',
  reason TEXT NOT NULL DEFAULT '');
CREATE TABLE IF NOT EXISTS spans (id INTEGER PRIMARY KEY, kind TEXT NOT NULL, start_ms INTEGER NOT NULL,
  end_ms INTEGER NOT NULL, cause TEXT NOT NULL DEFAULT '', file TEXT);
CREATE INDEX IF NOT EXISTS spans_by_start ON spans(start_ms);
PRAGMA user_version = 1;
""")
now = datetime.datetime.now().astimezone()
ms = lambda t: int(t.timestamp() * 1000)
def at(days, h, m=0):
    return (now - datetime.timedelta(days=days)).replace(hour=h, minute=m, second=0, microsecond=0)
def span(kind, a, b, cause='', file=None):
    db.execute("INSERT INTO spans (kind, start_ms, end_ms, cause, file) VALUES (?,?,?,?,?)", (kind, ms(a), ms(b), cause, file))
for days in range(14):
    for h, m, minutes in [(6, 0, 60), (9, 30, 30), (12, 0, 60), (18, 0, 120)]:
        a = at(days, h, m)
        b = a + datetime.timedelta(minutes=minutes)
        if b > now:
            continue
        span('asked', a, b)
        if (days, h) == (5, 9):
            continue
        name = f"{sys.argv[2]}/{a:%Y-%m-%d_%H-%M-%S}.mp3"
        damaged = (days, h) == (1, 12)
        db.execute("INSERT INTO files (path, start_ms, start_local, frames, sample_rate, end_ms, size_bytes,"
                   " verification, reason) VALUES (?,?,?,?,?,?,?,?,?)",
                   (name, ms(a), a.isoformat(), minutes * 60 * 48000, 48000, ms(b), minutes * 960000,
                    'damaged' if damaged else 'ok', 'ends 20 minutes early' if damaged else ''))
        span('recorded', a, b, '', name)
span('lost', at(2, 6, 20), at(2, 6, 24), 'the sound server went away')
span('silent', at(3, 18, 40), at(3, 19, 5), 'below -50 dBFS for 60 s')
db.commit()
PY

"$build/vantrel" --home "$home" >"$work/vantrel.log" 2>&1 &
vt_pids+=($!)
wid=$(vt_main_window)
sleep 1
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
shot() { import -window "$1" "$2"; echo "wrote $2"; }

click 160 81          # Record
sleep 7
xdotool mousemove 5 5  # away from the buttons
shot "$wid" docs/screenshot.png
click 111 30          # the Archive tab
sleep 1
shot "$wid" docs/archive.png
xdotool mousemove --window "$wid" 60 76 click --repeat 2 --delay 80 1   # play the first record
sleep 3
player=$(xdotool search --onlyvisible --name '^MiniPlayer$' | tail -1 || true)
if [[ -z $player ]]; then
  echo "screenshots.sh: the mini player did not open on a double click on the first archive row" >&2
  exit 1
fi
shot "$player" docs/player.png
xdotool windowfocus --sync "$player" key Escape   # closing stops the sound
sleep 1
click 45 30           # back to Recording
click 393 260         # Add...
sleep 1
dlg=$(xdotool search --name '^Schedule$' | tail -1)
shot "$dlg" docs/schedule-dialog.png
xdotool key --window "$dlg" Escape || true
sleep 1
xdotool windowfocus --sync "$wid" key F9   # Settings...
sleep 1
dlg=$(xdotool search --name '^Settings$' | tail -1)
shot "$dlg" docs/settings-dialog.png
xdotool key --window "$dlg" Escape || true
kill -TERM "${vt_pids[-1]}"
wait "${vt_pids[-1]}" || true

# The main window while recording and the settings dialog in each shipped language:
# docs/lang-<code>.png and docs/lang-<code>-settings.png.
for dir in "$home"/Lang/*/; do
  code=$(basename "$dir")
  sed -i "s/^Lang=.*/Lang=$code/" "$home/vantrel.ini"
  "$build/vantrel" --home "$home" >>"$work/vantrel.log" 2>&1 &
  vt_pids+=($!)
  wid=$(vt_main_window)
  sleep 1
  click 160 81          # Record
  sleep 4
  xdotool mousemove 5 5
  shot "$wid" "docs/lang-$code.png"
  xdotool windowfocus --sync "$wid" key F9
  sleep 1
  title=$(sed -n 's/^frmSettings=//p' "$home/Lang/$code/vtlang.ini" | head -1)
  dlg=$(xdotool search --name "^${title:-Settings}\$" | tail -1)
  shot "$dlg" "docs/lang-$code-settings.png"
  xdotool key --window "$dlg" Escape || true
  sleep 0.5
  kill -TERM "${vt_pids[-1]}"
  wait "${vt_pids[-1]}" || true
done
