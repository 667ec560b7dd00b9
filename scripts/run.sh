#!/usr/bin/env bash
# Sets up and builds Vantrel, then starts it. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh vantrel
if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
  echo "vantrel: no display to open a window on (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop session or under xvfb-run." >&2
  exit 1
fi
exec build/vantrel "$@"
