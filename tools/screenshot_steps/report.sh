# Downloads the simulator's survey (walk.sh), writes its map report with the
# dialog's title and page (Report..., Ctrl+P) beside the settings, and
# renders the first page into ORVISK_REPORT_PNG with Poppler.
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
xdotool mousemove 450 250 click 1 key ctrl+p
sleep 1.5
xdotool key Return # the dialog's title, A4 landscape
sleep 1.5
xdotool type --delay 20 "$XDG_CONFIG_HOME/report.pdf"
xdotool key Return
sleep 5
pdftoppm -r 80 -png -singlefile "$XDG_CONFIG_HOME/report.pdf" "${ORVISK_REPORT_PNG%.png}"
