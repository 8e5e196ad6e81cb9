#!/usr/bin/env bash
# Saves the X screen as a PNG: tools/capture_screen.sh OUT.png
# Xvfb without a window manager leaves dialogs black in a root capture, so each
# viewable top-level window is captured on its own and laid over the root
# capture in stacking order (bottom first).
set -euo pipefail
out="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
xwd -root -silent | /usr/bin/convert xwd:- png:"$out"
for w in $(xwininfo -root -children | awk '$1 ~ /^0x/ {print $1}' | tac); do
  xwininfo -id "$w" | grep -q 'Map State: IsViewable' || continue
  eval "$(xdotool getwindowgeometry --shell "$w")"
  xwd -id "$w" -silent | /usr/bin/convert xwd:- png:"$tmp/w.png"
  /usr/bin/convert "$out" "$tmp/w.png" -geometry "+$X+$Y" -composite "$out"
done
