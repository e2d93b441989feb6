#!/usr/bin/env bash
# The project file with 1,000 slides: saving with a warm fingerprint cache (goal 50 ms) and opening,
# against the atomic write and the read of the same bytes alone; medians of RUNS runs (default 21).
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-21}"
"$bin/project_file_bench" "$runs" 1000
