#!/usr/bin/env bash
# Start-up of the real program with an empty archive and with a large one, side by side in
# one run: from exec to the main window being mapped on an Xvfb display, with the test sound
# server, then from SIGTERM to exit (the close writes settings, schedule and index). Runs
# alternate between the two program folders; each large run starts from the same index.
# Prints the median of each and the difference.
#
#   bench/startup/startup.sh [repetitions] [records]   (defaults 7 and 100000; needs a build)
set -euo pipefail
cd "$(dirname "$0")/../.."
top=$PWD
build=${VANTREL_BUILD:-$top/build}
program=${VANTREL_PROGRAM:-$build/vantrel}
probe=$build/bench/startup/bench_startup_map
repetitions=${1:-7}
records=${2:-100000}
for f in "$program" "$probe"; do
  [[ -x $f ]] || { echo "startup.sh: $f is missing; build first" >&2; exit 1; }
done
source scripts/lib/desktop.sh
vt_begin_session vantrel-startup
work=$vt_work

vt_ensure_sound_server
vt_start_display 191 220
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$work/sound/runtime XDG_DATA_HOME=$work/data HOME=$work/userhome
mkdir -p "$XDG_DATA_HOME" "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

for name in empty large; do
  vt_make_home "$work/$name" "$build" "$work/Recordings"
  mkdir -p "$work/$name/Log"
done

# The index in the archive's own format: a locale line, then one section per record, dated
# every 211 s back from now, so that no time of day repeats and none is past a retention
# period before the window shows, named as the program names its recordings.
python3 - "$work/index.ini" "$records" <<'PY'
import sys, datetime
path, count = sys.argv[1], int(sys.argv[2])
now = datetime.datetime.now().replace(microsecond=0)
with open(path, "w", newline="\n") as out:
    out.write("; Locale=en_GB\n")
    for i in range(count):
        start = now - datetime.timedelta(seconds=211 * (count - i))
        out.write("\n[Item%d]\nDateTime=%s\nFilename=/home/ann/Recordings/%s.mp3\nLength=%d\n"
                  % (i, start.strftime("%d/%m/%Y %H:%M:%S"),
                     start.strftime("%Y-%m-%d %H-%M-%S"), 1000 + i % 3600))
PY

# One start and close; prints "<map ms> <close ms>".
run_once() {
  local home=$work/$1
  if [[ $1 == large ]]; then cp "$work/index.ini" "$home/Log/VantrelArchive.ini"; else rm -f "$home/Log/VantrelArchive.ini"; fi
  "$probe" 'Vantrel (' "$program" --home "$home" 2>>"$work/$1.log" || {
    echo "startup.sh: a start with the $1 archive failed:" >&2; tail -5 "$work/$1.log" >&2; exit 1; }
  # The close writes the index back: every record must have been loaded.
  if [[ $1 == large ]] && (( $(grep -c '^\[Item' "$home/Log/VantrelArchive.ini") != records )); then
    echo "startup.sh: the program did not keep the $records records of the index" >&2; exit 1
  fi
}

run_once empty >/dev/null   # warms the file cache, fonts and the sound server
empty_map=() empty_close=() large_map=() large_close=()
for _ in $(seq "$repetitions"); do
  read -r m c < <(run_once empty); empty_map+=("$m"); empty_close+=("$c")
  read -r m c < <(run_once large); large_map+=("$m"); large_close+=("$c")
done

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
em=$(median "${empty_map[@]}"); ec=$(median "${empty_close[@]}")
lm=$(median "${large_map[@]}"); lc=$(median "${large_close[@]}")
echo "exec to window mapped, then SIGTERM to exit; median of $repetitions runs each (ms)"
printf '  empty archive:       map %6s   close %6s   (runs: %s)\n' "$em" "$ec" "${empty_map[*]}"
printf '  %6d records:      map %6s   close %6s   (runs: %s)\n' "$records" "$lm" "$lc" "${large_map[*]}"
awk -v e="$em" -v l="$lm" 'BEGIN { printf "  difference:          map %+6.0f ms (target within 300)\n", l - e }'
