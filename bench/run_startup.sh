#!/usr/bin/env bash
# Start-up of the desktop program, from process start to the main window's first paint, under Xvfb:
# with a fresh data folder every run (profiles copied, settings made) and with a warm one (the same
# folder again), against a bare Qt dialog of the same size started the same way. Medians of RUNS runs
# (default 15). Target: warm start under 300 ms.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-15}"
command -v xvfb-run >/dev/null || { echo "xvfb-run not found (package xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat >"$work/measure.sh" <<'INNER'
set -euo pipefail
bin="$1"; runs="$2"; work="$3"
one() {  # one start: mode, home folder
  local mode="$1" home="$2"
  mkdir -p "$home/run" && chmod 700 "$home/run"
  HOME="$home" XDG_DATA_HOME="$home/share" XDG_CONFIG_HOME="$home/config" XDG_RUNTIME_DIR="$home/run" \
    "$bin/startup_bench" "$mode" "$(date +%s%N)"
}
# One untimed start of each, so the page cache holds the libraries for every measured run.
one baseline "$work/untimed" >/dev/null
one app "$work/untimed" >/dev/null
for ((i = 0; i < runs; i++)); do
  one baseline "$work/baseline-$i" >>"$work/baseline.txt"
  one app "$work/fresh-$i" >>"$work/fresh.txt"
  one app "$work/warm" >>"$work/warm.txt"
done
INNER
xvfb-run -a -s "-screen 0 1600x1200x24" bash "$work/measure.sh" "$bin" "$runs" "$work"

median() { sort -n "$1" | sed -n "$(( runs / 2 + 1 ))p"; }
base=$(median "$work/baseline.txt")
fresh=$(median "$work/fresh.txt")
warm=$(median "$work/warm.txt")
echo "start-up to the first paint of the window, medians of $runs runs:"
printf '  bare Qt dialog (baseline):       %8.2f ms\n' "$base"
printf '  main window, fresh data folder:  %8.2f ms   (%.2f x baseline)\n' "$fresh" "$(awk -v a="$fresh" -v b="$base" 'BEGIN{print a/b}')"
printf '  main window, warm data folder:   %8.2f ms   (%.2f x baseline)\n' "$warm" "$(awk -v a="$warm" -v b="$base" 'BEGIN{print a/b}')"
awk -v w="$warm" 'BEGIN { printf "warm start under 300 ms: %s\n", (w < 300) ? "met" : "missed" }'
