#!/usr/bin/env bash
# Renders every resources/icons/*.svg to a 128 x 128 PNG beside it (with
# transparency). The PNGs are committed; the build packs them into
# data/res.dat. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail

icons=$(cd "$(dirname "$0")/../resources/icons" && pwd)
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
