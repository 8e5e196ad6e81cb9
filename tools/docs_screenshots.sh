#!/usr/bin/env bash
# Renders the screenshots in docs/ from a built tree: tools/docs_screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
tools/screenshot.sh "$build" docs/window.png 4
tools/screenshot.sh "$build" docs/distance.png 4 tools/screenshot_steps/distance.sh
tools/screenshot.sh "$build" docs/settings.png 4 tools/screenshot_steps/settings.sh
