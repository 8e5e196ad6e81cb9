# Measures from the tip of Cape Kolka to the south coast of Saaremaa with the
# Distance tool (positions for the window at 1020 x 693 in the top-left corner).
click() { xdotool mousemove "$1" "$2" click 1; sleep 0.7; }
click 160 280 # Distance
eval "$(xdotool search --name '^Distance$' getwindowgeometry --shell | head -5)"
click $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 8)) # 1st Point
click 686 524
click $((X + WIDTH / 2)) $((Y + HEIGHT * 5 / 8)) # 2nd Point
click 618 124
click $((X + WIDTH / 2)) $((Y + HEIGHT * 7 / 8)) # Exit
xdotool mousemove 1150 650
sleep 0.5
