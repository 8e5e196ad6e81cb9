# Downloads the simulator's survey (walk.sh) and shows the Statistics tab of
# the Review panel for the whole survey, the hottest place chosen.
source "$(dirname "${BASH_SOURCE[0]}")/walk.sh"
click 792 20 1 # the Statistics tab
