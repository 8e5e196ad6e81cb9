# Measures on the sample map from the graticule crossing 57 27' N 24 23' E, on
# the shore, to 57 28' N 24 25' E inland with the Distance tool (positions for
# the window at 1020 x 693 in the top-left corner, the map as a first start
# shows it).
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.7; }
click 130 300 # Distance
eval "$(xdotool search --name '^Distance$' getwindowgeometry --shell | head -5)"
click $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 8)) # 1st Point
click 639 438
click $((X + WIDTH / 2)) $((Y + HEIGHT * 5 / 8)) # 2nd Point
click 875 191
click $((X + WIDTH / 2)) $((Y + HEIGHT * 7 / 8)) # Exit
xdotool mousemove 1150 650
sleep 0.5
