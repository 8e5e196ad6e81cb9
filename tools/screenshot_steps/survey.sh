# Connects to the simulator started by screenshot.sh (ORVISK_SIM), downloads
# every record (ORVISK_SETTINGS has LastPeriod=all), zooms in on the walk and
# rests the mouse on a point of the hot spot (positions for the window at
# 1020 x 693 in the top-left corner).
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.7}"; }
click 130 85 2 # Connect
click 130 192 # Download
eval "$(xdotool search --name '^Download data$' getwindowgeometry --shell | head -5)"
click $((X + WIDTH / 5)) $((Y + HEIGHT - 25)) 8 # Start, then the download
# The window centres the map on the walk; zoom in around that centre.
xdotool mousemove 632 340
for _ in 1 2 3; do
  xdotool click 4
  sleep 0.3
done
sleep 1
# A marker in the colour of the third step (50, 20, 255), near the middle of
# the map, is where the mouse goes.
shot="$(mktemp --suffix=.png)"
xwd -root -silent | /usr/bin/convert xwd:- -crop 500x500+382+90 +repage txt:- |
  awk -F'[,: ]+' '/#3214FF/ { print $1 + 382, $2 + 90; exit }' >"$shot.xy"
read -r mx my <"$shot.xy" || true
rm -f "$shot" "$shot.xy"
xdotool mousemove "${mx:-632}" "${my:-340}"
sleep 0.2
xdotool mousemove_relative 1 0
sleep 1.5
