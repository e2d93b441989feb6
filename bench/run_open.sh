#!/usr/bin/env bash
# Opening a 1,000-slide project (40 photos of 1600 x 1200 over the slides) in the main window under Xvfb:
# from the window's creation to the first paint of the storyboard with the thumbnails in view made,
# against the same window shown empty; and one write of that project. Medians of RUNS runs (default 9),
# each in a new process. Targets: open within 1 s, save within 50 ms.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-9}"
command -v xvfb-run >/dev/null || { echo "xvfb-run not found (package xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/show" "$work/home/run" && chmod 700 "$work/home/run"

cat >"$work/measure.sh" <<'INNER'
set -euo pipefail
bin="$1"; runs="$2"; work="$3"
export HOME="$work/home" XDG_DATA_HOME="$work/home/share" XDG_CONFIG_HOME="$work/home/config"
export XDG_RUNTIME_DIR="$work/home/run" DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/bus"
"$bin/open_project_ui_bench" make "$work/show"
# One untimed run of each, so the page cache holds the libraries and the photos.
"$bin/open_project_ui_bench" empty "$work/show" >/dev/null
"$bin/open_project_ui_bench" open "$work/show" >/dev/null
for ((i = 0; i < runs; i++)); do
  "$bin/open_project_ui_bench" empty "$work/show" >>"$work/empty.txt"
  "$bin/open_project_ui_bench" open "$work/show" >>"$work/open.txt"
  "$bin/open_project_ui_bench" save "$work/show" >>"$work/save.txt"
done
INNER
xvfb-run -a -s "-screen 0 1600x1200x24" bash "$work/measure.sh" "$bin" "$runs" "$work" 2>/dev/null

median() { sort -n "$1" | sed -n "$(( runs / 2 + 1 ))p"; }
empty=$(median "$work/empty.txt")
open=$(median "$work/open.txt")
save=$(median "$work/save.txt")
echo "a 1,000-slide project, medians of $runs runs:"
printf '  empty main window, first paint (baseline):     %8.2f ms\n' "$empty"
printf '  opened, first paint with thumbnails in view:   %8.2f ms   (%.2f x baseline)\n' "$open" "$(awk -v a="$open" -v b="$empty" 'BEGIN{print a/b}')"
printf '  saved:                                          %8.2f ms\n' "$save"
awk -v o="$open" -v s="$save" 'BEGIN { printf "open within 1 s: %s; save within 50 ms: %s\n", (o <= 1000) ? "met" : "missed", (s <= 50) ? "met" : "missed" }'
