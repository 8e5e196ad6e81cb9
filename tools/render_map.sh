#!/usr/bin/env bash
# shellcheck disable=SC2129 # the PostScript is built by successive appends
# Renders the sample map maps/Korvenix/ (map.png, map.pgw, map.ppr): the
# Latvian shore of the Gulf of Riga around the simulator's survey walk
# (57.400-57.418 N, 24.600-24.634 E), in UTM zone 34 (WGS84), 3250 x 2000
# pixels of exactly 8 m, from the GSHHG shorelines and lakes that Debian's GMT
# packages ship. The outputs are committed; neither the build nor CI runs this
# script. Rerunnable: it overwrites the three files.
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
# Map rectangle in UTM metres and the pixel size. 1 px = 8 m = 0.1 mm on a
# 1:80,000 sheet, so 254 dpi gives the pixel grid exactly. At 8 m a pixel the
# walk is some 250 pixels across and its transects, 100-200 m apart, lie 12-25
# pixels apart; the rectangle reaches west to the sea and east past a lake.
x0=700000
x1=726000
y0=6360000
y1=6376000
px=8
dpi=254
width_px=$(((x1 - x0) / px))
height_px=$(((y1 - y0) / px))
width_cm=$(awk -v w="$width_px" -v d="$dpi" 'BEGIN { printf "%.6f", w / d * 2.54 }')
height_cm=$(awk -v h="$height_px" -v d="$dpi" 'BEGIN { printf "%.6f", h / d * 2.54 }')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

to_geo() { cs2cs "${proj_args[@]}" +to +proj=longlat +datum=WGS84 -f %.10f; }
to_utm() { cs2cs +proj=longlat +datum=WGS84 +to "${proj_args[@]}" -f %.3f; }

# Corners of the UTM rectangle as lon/lat, so GMT's -R...+r region is that
# rectangle and nothing else.
read -r ll_lon ll_lat _ < <(echo "$x0 $y0" | to_geo)
read -r ur_lon ur_lat _ < <(echo "$x1 $y1" | to_geo)
region="-R${ll_lon}/${ll_lat}/${ur_lon}/${ur_lat}+r"
jproj="-JU34/${width_cm}c"
# The same page in UTM metres, for text placed by grid coordinates.
grid_region="-R${x0}/${x1}/${y0}/${y1}"
grid_proj="-JX${width_cm}c/${height_cm}c"

# The page is exactly the map: no margins, no annotations outside the frame.
export GMT_USERDIR="$work"
gmt set GMT_VERBOSE errors PS_MEDIA "${width_cm}cx${height_cm}c" PS_PAGE_ORIENTATION portrait \
  MAP_ORIGIN_X 0c MAP_ORIGIN_Y 0c MAP_FRAME_TYPE plain MAP_FRAME_PEN 0.5p,grey30 \
  MAP_GRID_PEN_PRIMARY 0.5p,190/176/130 FONT_LABEL 9p,Helvetica,black \
  FONT_ANNOT_PRIMARY 8p,Helvetica,black MAP_SCALE_HEIGHT 5p PS_LINE_JOIN round \
  PS_CHAR_ENCODING ISOLatin1+

land=236/232/208
sea=166/206/227
lake=176/212/232
ps=map.ps

# Land, sea and lakes from the full-resolution shorelines.
gmt pscoast -Ve "$region" "$jproj" -Df -A0 -G$land -S$sea -C$lake -K -X0 -Y0 >$ps
# Shoreline and lake shores.
gmt pscoast "$region" "$jproj" -Df -A0 -W1/0.6p,40/90/140 -W2/0.5p,60/110/160 -O -K >>$ps
# Graticule every minute of arc, so a position can be read off the map.
gmt psbasemap "$region" "$jproj" -Bxg1m -Byg1m -O -K >>$ps

# Graticule labels inside the frame: each meridian where it meets the top
# edge, each parallel where it meets the left edge. Grid north is 3 degrees
# off true north here, so the crossings are found by a few corrections.
: >labels.txt
for minute in $(seq 20 50); do
  lon=$(awk -v m="$minute" 'BEGIN { printf "%.10f", 24 + m / 60 }')
  lat=$ur_lat
  for _ in 1 2 3; do
    read -r x y _ < <(echo "$lon $lat" | to_utm)
    lat=$(awk -v l="$lat" -v y="$y" -v t="$y1" 'BEGIN { printf "%.10f", l - (y - t) / 111300 }')
  done
  if awk -v x="$x" -v a="$x0" -v b="$x1" 'BEGIN { exit !(x > a + 400 && x < b - 400) }'; then
    printf '%s %s 7p,Helvetica,70/75/80 CT 24@.%02d\047 E\n' "$x" "$y1" "$minute" >>labels.txt
  fi
done
for minute in $(seq 15 35); do
  lat=$(awk -v m="$minute" 'BEGIN { printf "%.10f", 57 + m / 60 }')
  lon=$ll_lon
  for _ in 1 2 3; do
    read -r x y _ < <(echo "$lon $lat" | to_utm)
    lon=$(awk -v l="$lon" -v x="$x" -v a="$x0" -v p="$lat" \
      'BEGIN { printf "%.10f", l - (x - a) / (111300 * cos(p * 3.14159265358979 / 180)) }')
  done
  if awk -v y="$y" -v a="$y0" -v b="$y1" 'BEGIN { exit !(y > a + 400 && y < b - 400) }'; then
    printf '%s %s 7p,Helvetica,70/75/80 LB 57@.%02d\047 N\n' "$x0" "$y" "$minute" >>labels.txt
  fi
done
gmt pstext labels.txt "$grid_region" "$grid_proj" -F+f+j -D0.1c/-0.1c -N -O -K >>$ps

# Real names only: the sea and the country.
cat >names.txt <<'EOF'
701000 6367000 12p,Helvetica-Oblique,30/80/140 CM 90 Gulf of Riga
711000 6373000 12p,Helvetica-Bold,grey45 CM 0 LATVIA
EOF
gmt pstext names.txt "$grid_region" "$grid_proj" -F+f+j+a -O -K >>$ps
# Scale bar and north arrow inside the lower corners.
gmt psbasemap "$region" "$jproj" -LjBL+o1.2c/0.6c+c57.4+w2k+f+u -F+gwhite@20+p0.4p,grey40 \
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
  echo "# UTM zone 34N, WGS84; Latvian shore of the Gulf of Riga at 57.4 N; 8 m pixels"
} >"$out/map.ppr"
echo "render_map: wrote $out/map.png (${width_px}x${height_px}), map.pgw, map.ppr"
