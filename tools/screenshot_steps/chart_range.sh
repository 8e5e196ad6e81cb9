# Downloads the simulator's survey (walk.sh), then drags a time range on the
# dose-rate chart across the session with the hot spot: the map shows that
# session alone, and the statistics follow (positions for the window at
# 1020 x 693 in the top-left corner, the chart under the map).
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
click 792 20 1 # the Statistics tab
xdotool mousemove 625 590 mousedown 1
for x in 635 645 655 665 675 685 695; do
  xdotool mousemove "$x" 590
  sleep 0.1
done
xdotool mouseup 1
sleep 1
# Rest the mouse on the peak, which marks its point on the map.
xdotool mousemove 660 560
sleep 1
