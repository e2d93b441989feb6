#!/usr/bin/env bash
# The storyboard with 1,000 slides: paint of a full view and insertPhoto at the front, with their
# baselines (an empty storyboard's paint, a thumbnail load alone) measured in the same run, and the paint
# of a view showing a minute-long waveform against the same view without the clip; medians of RUNS runs
# (default 21); then the opening of a 1,000-slide show without thumbnails (loadContent, the thumbnails in
# view painted, all of them, an undo). Runs on the offscreen platform in a throw-away home.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-21}"

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/share" QT_QPA_PLATFORM=offscreen "$bin/storyboard_bench" "$runs" 1000
