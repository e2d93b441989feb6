#!/usr/bin/env bash
# Time per frame of each of the twelve transition effects rendered into a video at 1920 x 1080 with
# 30 frames asked for, into a writer that discards the frames (median of RUNS runs per effect).
# The run log goes to a throw-away data folder, never the user's own.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-7}"

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/share" "$bin/effects_bench" "$runs"
