#!/usr/bin/env bash
# Installs every Debian package Vantrel needs (only those missing), then configures and
# builds it in build/. Run as root, or as a user who may use sudo.
#
#   scripts/setup.sh              builds everything: the program, tests and benchmarks
#   scripts/setup.sh TARGET...    builds only those targets (run.sh: just the program)
#
# The sound servers the tests run privately are installed only for the whole build: on a
# desktop, installing one would change which server the user's session runs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # build
  g++ cmake make pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
  libpulse-dev libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libx11-dev  # the start-up benchmark's window watch
  libmicrohttpd-dev  # the web page, API and metrics
  # run time: encoders, desktop hand-off, fonts, Qt's translations
  lame flac vorbis-tools opus-tools ffmpeg xdg-utils fonts-dejavu-core
  qt6-translations-l10n libqt6sql6-sqlite  # the coverage ledger's database driver
  # tests: the test signal and its checks, real windows for screenshots
  pulseaudio-utils sox xvfb xauth imagemagick xdotool
  # the install test's validators; the Debian package's library dependencies
  desktop-file-utils appstream systemd dpkg-dev
)
if (($# == 0)); then
  packages+=(
    # the tests' private sound servers: PulseAudio, and PipeWire with a session bus of its own
    pulseaudio pipewire pipewire-bin wireplumber pipewire-pulse dbus-daemon
    # the web server's peers: a browser, a scraper and its metrics checker, an HTTP client
    chromium prometheus curl
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=()
  [[ $(id -u) == 0 ]] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
