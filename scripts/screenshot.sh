#!/usr/bin/env bash
# Takes the README's picture anew (docs/mainwindow.png, or the file given): the program's
# main window on a virtual X server, connected to a simulated reader it has taken control
# of, in Turbo Live with images and results coming in. The main-window benchmark drives
# the real main window and saves the picture with --screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=${VELMARROW_BUILD_DIR:-build}
out=${1:-docs/mainwindow.png}
echo "== Taking the picture: $out"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build_dir/bench/mainwindow/bench_mainwindow" --rate 30 --seconds 3 --connects 1 --screenshot "$out"
