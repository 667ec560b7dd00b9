#!/usr/bin/env bash
# Builds the program and makes the Debian package build/vantrel_<version>_<arch>.deb from
# the install rules, then lists its control fields. Needs dpkg-dev (scripts/setup.sh).
#
#   scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh vantrel vtwav vt_shipped_presets
(cd build && cpack -G DEB)
dpkg-deb --info build/vantrel_*.deb
