#!/usr/bin/env bash
# Renders every resources/icons/*.svg to a 128 x 128 PNG beside it (with
# transparency), and the program's icon packaging/icons/hicolor/scalable/apps/
# to the PNG sizes of the icon theme beside it. The PNGs are committed; the
# build packs the buttons' into data/res.dat and installs the program's.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
icons=$repo/resources/icons
if ! command -v rsvg-convert >/dev/null; then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends librsvg2-bin
fi

shopt -s nullglob
count=0
for svg in "$icons"/*.svg; do
  rsvg-convert --width 128 --height 128 --keep-aspect-ratio --format png \
    --output "${svg%.svg}.png" "$svg"
  count=$((count + 1))
done
echo "render_icons: rendered $count icons in $icons"

hicolor=$repo/packaging/icons/hicolor
for svg in "$hicolor"/scalable/apps/*.svg; do
  for size in 16 24 32 48 64 128 256; do
    mkdir -p "$hicolor/${size}x$size/apps"
    rsvg-convert --width $size --height $size --keep-aspect-ratio --format png \
      --output "$hicolor/${size}x$size/apps/$(basename "${svg%.svg}").png" "$svg"
  done
  echo "render_icons: rendered $(basename "$svg") in $hicolor"
done
