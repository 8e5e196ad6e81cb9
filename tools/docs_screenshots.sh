#!/usr/bin/env bash
# Renders the screenshots in docs/ from a built tree: tools/docs_screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
tools/screenshot.sh "$build" docs/window.png 4
tools/screenshot.sh "$build" docs/distance.png 4 tools/screenshot_steps/distance.sh
tools/screenshot.sh "$build" docs/settings.png 4 tools/screenshot_steps/settings.sh
# A download from the simulator: the walk as a first start draws it (radius 0),
# and coloured markers with an inspected point.
ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all" \
  tools/screenshot.sh "$build" docs/walkthrough_walk.png 4 tools/screenshot_steps/walk.sh
ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all trackR=2" \
  tools/screenshot.sh "$build" docs/survey.png 4 tools/screenshot_steps/survey.sh
ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all" \
  tools/screenshot.sh "$build" docs/surveys.png 4 tools/screenshot_steps/surveys.sh
# The review of a survey with flaws planted by the simulator: a check chosen,
# the statistics, and a session chosen on the chart.
flawed="--hostile clock,jump,poorfix,zero"
for shot in review statistics chart_range; do
  ORVISK_SIM="$flawed" ORVISK_SETTINGS="LastPeriod=all" \
    tools/screenshot.sh "$build" "docs/$shot.png" 4 "tools/screenshot_steps/$shot.sh"
done
# The walk interpolated under the track (search radius 150 m, no value
# beyond 100 m), and the first page of its map report rendered by Poppler.
ORVISK_SIM="" ORVISK_SETTINGS='LastPeriod=all trackR=1 Interpolate\radius=150 Interpolate\mask=100' \
  tools/screenshot.sh "$build" docs/interpolated.png 4 tools/screenshot_steps/interpolate.sh
ORVISK_REPORT_PNG="$PWD/docs/report.png" ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all trackR=2" \
  tools/screenshot.sh "$build" "$(mktemp -d)/window.png" 4 tools/screenshot_steps/report.sh
# The sample map as a GeoTIFF imported into the Latvian grid (LKS-92,
# EPSG:3059) with orvisk-map-import, under the walk.
geo="$(mktemp -d)"
gdal_translate -q -a_srs EPSG:32634 maps/Korvenix/map.png "$geo/sample.tif"
"$build/app/orvisk-map-import" "$geo/sample.tif" "$geo/lks" --epsg 3059
ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all trackR=1 MapFolder=$geo/lks" \
  tools/screenshot.sh "$build" docs/geotiff_map.png 4 tools/screenshot_steps/walk.sh
rm -rf "$geo"
# The live view: an M30's dose rate and alarm after a download, and a
# spectrometer's spectrum on a log scale, calibrated by two peaks, with the
# Cs-137 peak chosen as the region.
ORVISK_SIM="--events 10" ORVISK_SETTINGS="LastPeriod=all" \
  tools/screenshot.sh "$build" docs/live_alarm.png 4 tools/screenshot_steps/live.sh
SPECTRUM_REGION=1 ORVISK_SIM="--family M22 --events 2" \
  tools/screenshot.sh "$build" docs/spectrum.png 4 tools/screenshot_steps/spectrum.sh
# The installed program, from its package.
tools/screenshot_installed.sh "$build" docs/installed.png
