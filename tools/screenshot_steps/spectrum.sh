# Connects to the simulated spectrometer and opens the spectrum window
# (Spectrum, Ctrl+G); with SPECTRUM_REGION set, also turns on log counts,
# calibrates by two peaks (Cs-137 and K-40, read off the channel axis) and
# drags a region over the Cs-137 peak.
xdotool mousemove 130 85 click 1
sleep 3
xdotool mousemove 450 250 click 1 key ctrl+g
sleep 3
if [ -n "${SPECTRUM_REGION:-}" ]; then
  xdotool mousemove 820 145 click 1 # Log counts
  sleep 0.5
  xdotool mousemove 898 204 click 1 # Calibrate...
  sleep 1.5
  xdotool mousemove 407 148 click 1 # Two peaks
  sleep 0.5
  for value in 220.7 661.7 487 1460.8; do
    xdotool key Tab
    xdotool type --delay 30 "$value"
  done
  xdotool key Return
  sleep 1
  xdotool mousemove 211 300 mousedown 1 mousemove 225 300 mousemove 241 300 mouseup 1
  sleep 1
fi
