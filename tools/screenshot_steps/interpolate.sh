# Downloads the simulator's survey (walk.sh), then interpolates it with the
# dialog's values into a GeoTIFF beside the settings, which the map shows
# under the walk, and zooms in on the hot spot (positions for the window at
# 1020 x 693 in the top-left corner).
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
xdotool mousemove 450 250 click 1 key ctrl+i
sleep 1.5
xdotool key Return # the dialog's values
sleep 1.5
xdotool type --delay 20 "$XDG_CONFIG_HOME/interpolated.tif"
xdotool key Return
sleep 20
xdotool mousemove 498 264
for _ in 1 2 3 4; do
  xdotool click 4
  sleep 0.3
done
xdotool mousemove 1200 700
sleep 1
