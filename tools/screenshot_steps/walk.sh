# Connects to the simulator started by screenshot.sh (ORVISK_SIM), downloads
# every record (ORVISK_SETTINGS has LastPeriod=all) and leaves the walk as the
# window shows it after a download (positions for the window at 1020 x 693 in
# the top-left corner).
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.7}"; }
click 130 85 2 # Connect
click 130 192 # Download
eval "$(xdotool search --name '^Download data$' getwindowgeometry --shell | head -5)"
click $((X + WIDTH / 5)) $((Y + HEIGHT - 25)) 8 # Start, then the download
xdotool mousemove 1200 700 # off the map
sleep 1
