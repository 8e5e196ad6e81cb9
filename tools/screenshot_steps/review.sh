# Downloads the simulator's survey (walk.sh), then chooses a check in the
# Review panel, so that the map shows only the points it flagged (positions
# for the window at 1020 x 693 in the top-left corner, the panel beside the map).
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
click 760 161 1.5 # "Faster than 5 m/s"
xdotool mousemove 1200 700
sleep 0.5
