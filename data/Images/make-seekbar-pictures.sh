#!/usr/bin/env bash
# Draws the seek bar's two pictures with ImageMagick: the groove strip (155 × 9) and the
# knob (35 × 17), both 32-bit PNG with alpha. The PNGs beside this script are its output and
# are what the build ships; run it again only to change their look.
set -euo pipefail
cd "$(dirname "$0")"
face=$(mktemp --suffix=.png)
trap 'rm -f "$face"' EXIT

# Groove: a sunken rounded channel, darker at the top edge, lighter at the bottom edge, so
# it reads as cut into the window whatever the window's colour.
convert -size 155x9 xc:none \
  -fill '#5c6670' -draw 'roundrectangle 0,0 154,8 4,4' \
  -fill '#9aa4ae' -draw 'roundrectangle 1,2 153,8 3,3' \
  -fill '#2f3a46' -draw 'roundrectangle 1,1 153,7 3,3' \
  -fill '#4a90d9' -draw 'roundrectangle 2,3 152,5 1,1' \
  -define png:color-type=6 PNG32:seek-strip.png

# Knob: a raised pill with a vertical shine and a centre grip line that marks the position.
# The shine is cut to the pill's shape through a mask.
convert -size 33x15 gradient:'#fbfcfd'-'#b9c2cc' \
  \( -size 33x15 xc:black -fill white -draw 'roundrectangle 0,0 32,14 7,7' \) \
  -alpha off -compose copy_opacity -composite "$face"
convert -size 35x17 xc:none \
  -fill '#3b4550' -draw 'roundrectangle 0,0 34,16 8,8' \
  "$face" -geometry +1+1 -compose over -composite \
  -fill '#3b4550' -draw 'rectangle 17,4 17,12' \
  -fill '#ffffff' -draw 'rectangle 18,4 18,12' \
  -define png:color-type=6 PNG32:seek-knob.png
