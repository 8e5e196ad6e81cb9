#!/usr/bin/env bash
# shellcheck disable=SC2129 # the PostScript is built by successive appends
# Renders the sample map maps/Korvenix/ (map.png, map.pgw, map.ppr): the
# southern Gulf of Riga in UTM zone 34 (WGS84), 2000 x 1500 pixels of
# exactly 100 m, from the GSHHG coastlines, rivers and borders that Debian's
# GMT packages ship. The outputs are committed; neither the build nor CI runs
# this script. Rerunnable: it overwrites the three files.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$repo/maps/Korvenix}

# Rendering tools only, so they stay out of scripts/setup.
packages=(gmt gmt-gshhg gmt-gshhg-full gmt-gshhg-high gmt-dcw ghostscript proj-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo=sudo
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

proj="+proj=utm +zone=34 +ellps=WGS84 +datum=WGS84 +units=m +no_defs"
read -r -a proj_args <<<"$proj"
# Map rectangle in UTM metres and the pixel size. 1 px = 100 m = 0.1 mm on a
# 1:1,000,000 sheet, so 254 dpi gives the pixel grid exactly.
x0=560000
x1=760000
y0=6305000
y1=6455000
px=100
dpi=254
width_px=$(((x1 - x0) / px))
height_px=$(((y1 - y0) / px))
width_cm=$(awk -v w="$width_px" -v d="$dpi" 'BEGIN { printf "%.6f", w / d * 2.54 }')
height_cm=$(awk -v h="$height_px" -v d="$dpi" 'BEGIN { printf "%.6f", h / d * 2.54 }')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Corners of the UTM rectangle as lon/lat, so GMT's -R...+r region is that
# rectangle and nothing else.
read -r ll_lon ll_lat _ < <(echo "$x0 $y0" | cs2cs "${proj_args[@]}" +to +proj=longlat +datum=WGS84 -f %.10f)
read -r ur_lon ur_lat _ < <(echo "$x1 $y1" | cs2cs "${proj_args[@]}" +to +proj=longlat +datum=WGS84 -f %.10f)
region="-R${ll_lon}/${ll_lat}/${ur_lon}/${ur_lat}+r"
jproj="-JU34/${width_cm}c"

# The page is exactly the map: no margins, no annotations outside the frame.
export GMT_USERDIR="$work"
gmt set GMT_VERBOSE errors PS_MEDIA "${width_cm}cx${height_cm}c" PS_PAGE_ORIENTATION portrait \
  MAP_ORIGIN_X 0c MAP_ORIGIN_Y 0c MAP_FRAME_TYPE plain MAP_FRAME_PEN 0.5p,grey30 \
  MAP_GRID_PEN_PRIMARY 0.25p,150/155/160 FONT_LABEL 9p,Helvetica,black \
  FONT_ANNOT_PRIMARY 8p,Helvetica,black MAP_SCALE_HEIGHT 5p PS_LINE_JOIN round

land=236/232/208
sea=166/206/227
lake=176/212/232
ps=map.ps

# Land, sea and lakes from the full-resolution shorelines.
gmt pscoast -Ve "$region" "$jproj" -Df -A0 -G$land -S$sea -C$lake -K -X0 -Y0 >$ps
# Shoreline and lake shores, rivers (major thicker), national borders.
gmt pscoast "$region" "$jproj" -Df -A0 -W1/0.5p,40/90/140 -W2/0.35p,60/110/160 \
  -I1/1.3p,50/110/190 -I2/0.9p,50/110/190 -I3/0.4p,70/130/200 -I4/0.3p,70/130/200 \
  -Ia/0.25p,90/145/210 -N1/0.8p,150/60/120,- -O -K >>$ps
# Graticule every 30' of longitude and 15' of latitude, with a thin frame.
gmt psbasemap "$region" "$jproj" -Bxg30m -Byg15m -O -K >>$ps

# A few real place names, kept off the tie points used in tests.
cat >labels.txt <<'EOF'
24.12 56.93 9p,Helvetica-Bold,black LM Riga
23.40 57.42 10p,Helvetica-Oblique,30/80/140 CM Gulf of Riga
23.31 57.80 8p,Helvetica,black LM Ruhnu
24.07 58.12 8p,Helvetica,black LM Kihnu
22.55 57.72 8p,Helvetica,black RM Cape Kolka
24.18 57.05 8p,Helvetica-Oblique,30/80/140 LM Daugava
22.70 58.10 8p,Helvetica,black CM Saaremaa
24.95 57.20 9p,Helvetica-Bold,grey30 CM LATVIA
24.90 58.07 9p,Helvetica-Bold,grey30 CM ESTONIA
EOF
gmt pstext labels.txt "$region" "$jproj" -F+f+j -D0.15c/0c -O -K >>$ps
# Scale bar and north arrow inside the lower left corner.
gmt psbasemap "$region" "$jproj" -LjBL+o0.6c/0.6c+c57.2+w20k+f+u -F+gwhite@20+p0.4p,grey40 \
  -O -K >>$ps
gmt psbasemap "$region" "$jproj" -TdjBR+o0.6c/0.6c+w1.2c+l,,,N -O >>$ps

# Whole page, no cropping: the page is the map rectangle.
gmt psconvert $ps -Tg -E$dpi -Qg4 -Qt4 -Fmap
# PNG header: width and height are big-endian at bytes 16..23.
read -r w h < <(od -An -tu1 -j16 -N8 map.png |
  awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
if [[ $w != "$width_px" || $h != "$height_px" ]]; then
  echo "render_map: expected ${width_px}x${height_px} pixels, got ${w}x${h}" >&2
  exit 1
fi

mkdir -p "$out"
cp map.png "$out/map.png"
# World file: pixel size x, two rotation terms, pixel size y (negative, rows
# run south), then the centre of the upper-left pixel.
{
  echo "$px.0"
  echo "0.0"
  echo "0.0"
  echo "-$px.0"
  echo "$((x0 + px / 2)).0"
  echo "$((y1 - px / 2)).0"
} >"$out/map.pgw"
{
  echo "$proj"
  echo "# UTM zone 34N, WGS84; southern Gulf of Riga (Latvia, Estonia); 100 m pixels"
} >"$out/map.ppr"
echo "render_map: wrote $out/map.png (${width_px}x${height_px}), map.pgw, map.ppr"
