#!/usr/bin/env bash
# The installed program as a user meets it: builds the package from a built
# tree, unpacks it into an empty root and starts that root's orvisk from an
# empty folder under Xvfb, downloading from the simulator (walk.sh):
#   tools/screenshot_installed.sh [BUILD_DIR] [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-docs/installed.png}")"
deb="$(scripts/package "$build")"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
ORVISK_PROGRAM="$root/usr/bin/orvisk" ORVISK_SIM="" ORVISK_SETTINGS="LastPeriod=all trackR=1" \
  tools/screenshot.sh "$build" "$out" 4 tools/screenshot_steps/walk.sh
