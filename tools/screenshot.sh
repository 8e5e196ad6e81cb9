#!/usr/bin/env bash
# Starts Orvisk from the runnable folder under a virtual X server and saves a
# screenshot of the whole screen:
#   tools/screenshot.sh [BUILD_DIR] [OUT.png] [SECONDS] [STEPS.sh]
# STEPS.sh, when given, is run (with xdotool at hand) between the wait and the
# shot, to open a dialog or click on the map. The screen is 1280x720, a small
# laptop's, unless ORVISK_SCREEN says otherwise (e.g. 1280x1024).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="$(realpath -m "${2:-screenshot.png}")"
wait_s="${3:-4}"
steps="${4:+$(realpath "$4")}"
screen="${ORVISK_SCREEN:-1280x720}"

need=()
for p in xvfb xauth x11-apps imagemagick xdotool; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}"
fi

capture="$(realpath tools/capture_screen.sh)"
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
cd "$build/run"
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 ${screen}x24" bash -c "
  ./orvisk & app=\$!
  sleep $wait_s
  ${steps:+source '$steps'}
  '$capture' '$out'
  kill \$app; wait \$app 2>/dev/null || true"
echo "screenshot: $out"
