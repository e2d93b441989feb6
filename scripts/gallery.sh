#!/usr/bin/env bash
# Draws every window into build/gallery/*.png (and at 200 % into build/gallery/2x/; the main window at
# 125 % into build/gallery/125/), under Xvfb.
#   ./scripts/gallery.sh [NAME...]   only the named windows
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DKESTRELLE_TESTS=ON >/dev/null
cmake --build build --target kestrelle-gallery
rm -rf build/gallery
xvfb-run -a -s "-screen 0 1920x1200x24" build/bin/kestrelle-gallery build/gallery "$@"
QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 3200x2400x24" build/bin/kestrelle-gallery build/gallery/2x "$@"
# The main window on a 1366 x 768 laptop screen at 125 %.
if [ $# -eq 0 ] || printf '%s\n' "$@" | grep -q '^main_window_1366x768'; then
  QT_SCALE_FACTOR=1.25 xvfb-run -a -s "-screen 0 1920x1200x24" build/bin/kestrelle-gallery build/gallery/125 \
    main_window_1366x768 main_window_1366x768_edit_menu
fi
