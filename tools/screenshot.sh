#!/usr/bin/env bash
# Starts Orvisk from the runnable folder under a virtual X server and saves a
# screenshot of the whole screen:
#   tools/screenshot.sh [BUILD_DIR] [OUT.png] [SECONDS] [STEPS.sh]
# STEPS.sh, when given, is run (with xdotool at hand) between the wait and the
# shot, to open a dialog or click on the map. The screen is 1280x720, a small
# laptop's, unless ORVISK_SCREEN says otherwise (e.g. 1280x1024).
# ORVISK_SIM="ARGS" first starts the simulator (BUILD_DIR/sim/orvisk-sim ARGS)
# on a free loopback port and stores its connection string, so the steps can
# press Connect; ORVISK_SETTINGS="key=value ..." stores further settings for
# the start (e.g. "trackR=2 LastPeriod=all"). ORVISK_PROGRAM=PATH starts that
# program (an installed Orvisk) from an empty folder instead of BUILD_DIR/run.
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
sim=""
trap 'rm -rf "$config"; [ -z "$sim" ] || { kill "$sim"; wait "$sim" 2>/dev/null || true; }' EXIT
settings=()
read -r -a settings <<<"${ORVISK_SETTINGS:-}"
if [ -n "${ORVISK_SIM+set}" ]; then
  read -r -a sim_args <<<"$ORVISK_SIM"
  "$build/sim/orvisk-sim" --listen 127.0.0.1:0 --discovery off "${sim_args[@]}" >"$config/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$config/sim.log" && break
    sleep 0.1
  done
  conn="$(grep -o 'tcp:127\.0\.0\.1:[0-9]*' "$config/sim.log" | head -1)"
  [ -n "$conn" ] || { cat "$config/sim.log"; echo "screenshot: the simulator did not start" >&2; exit 1; }
  settings+=("ConnectionString=$conn")
fi
if [ ${#settings[@]} -gt 0 ]; then
  mkdir -p "$config/Korvenix"
  { echo "[General]"; printf '%s\n' "${settings[@]}"; } >"$config/Korvenix/Orvisk.conf"
fi
program=./orvisk
if [ -n "${ORVISK_PROGRAM:-}" ]; then
  program="$ORVISK_PROGRAM"
  cd "$config"
else
  cd "$build/run"
fi
# Whatever the steps do stays on loopback.
ORVISK_LOOPBACK_ONLY=1 XDG_CONFIG_HOME="$config" XDG_DATA_HOME="$config/data" xvfb-run -a -s "-screen 0 ${screen}x24" bash -c "
  '$program' & app=\$!
  sleep $wait_s
  ${steps:+source '$steps'}
  '$capture' '$out'
  kill \$app; wait \$app 2>/dev/null || true"
echo "screenshot: $out"
