# Opens the Settings dialog.
xdotool mousemove 160 341 click 1
sleep 3
