# Downloads the simulator's walk (walk.sh), then waits with the M30 connected
# until its dose-rate alarm holds the status line, with the live dose rate in
# the "Dose rate:" row (the mouse on the map away from the walk).
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
xdotool mousemove 300 120 # on the map, off the walk: the row shows the instrument's value
sleep 14
