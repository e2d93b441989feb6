#!/usr/bin/env bash
# The preview played for real under Xvfb: a 10-slide project at the Normal Quality profile (3 s still
# and 3 s transition per slide unless SLIDE/TRANSITION say otherwise). Prints, per run and as medians
# of RUNS runs (default 3), the actual playing time against the nominal time of its ticks and pauses,
# and the longest user-interface stall against that of an idle event loop.
# The settings and the run log go to a throw-away home, never the user's own.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-3}"

home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/share" XDG_RUNTIME_DIR="$home/run" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/kestrelle-bench-bus" \
  DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/kestrelle-bench-bus" \
  xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/preview_bench" "$runs" "${SLIDE:-3}" "${TRANSITION:-3}"
