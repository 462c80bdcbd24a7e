#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the window under a virtual X server, photographs the whole screen
# into BUILD/screenshot.png, and ends the program.
set -euo pipefail
build=${1:-build}
out="$build/screenshot.png"
xvfb-run -a -s "-screen 0 1100x760x24" bash -c '
  "$1/ferrybox" & pid=$!
  sleep 4
  import -window root "$2"
  kill $pid; wait $pid 2>/dev/null || true
' _ "$build" "$out"
echo "wrote $out"
