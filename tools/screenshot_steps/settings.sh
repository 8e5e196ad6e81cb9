# Opens the Settings dialog.
xdotool mousemove 130 353 click 1
sleep 3
