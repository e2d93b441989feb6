#!/usr/bin/env bash
# The photo browser opening a folder of 200 photos of 4000 x 3000 (JPEG, quality 90, generated here),
# once without and once with an embedded 160 x 120 EXIF thumbnail in each (as cameras write them):
# time until the last thumbnail is shown and the longest UI-thread stall, against decoding the plain
# files at 1/8 size with libjpeg-turbo's djpeg (one process per file, as a user's script would), in
# the same run. Medians of RUNS runs (default 5); COUNT changes the number of photos.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-5}"
count="${COUNT:-200}"
command -v djpeg >/dev/null || { echo "djpeg not found (package libjpeg-turbo-progs)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
photos="$work/photos"
echo "making $count photos of 4000 x 3000 ..."
"$bin/thumbnail_ui_bench" make "$photos" "$count" 4000 3000
"$bin/thumbnail_ui_bench" make "$work/with-thumbnails" "$count" 4000 3000 thumbnail
echo "$count photos, $(du -sm "$photos" | cut -f1) MB; $runs runs each"

read -r last cpu open stall shown worst first < <("$bin/thumbnail_ui_bench" time "$photos" "$runs")
read -r tlast tcpu topen tstall tshown tworst tfirst < <("$bin/thumbnail_ui_bench" time "$work/with-thumbnails" "$runs")

djpeg_all() { for photo in "$photos"/*.JPG; do djpeg -scale 1/8 -outfile /dev/null "$photo"; done; }
djpeg_all  # untimed: warms the page cache
TIMEFORMAT='%3R %3U %3S'
samples="$work/djpeg.txt"
: >"$samples"
for ((i = 0; i < runs; i++)); do
  { time djpeg_all; } 2>>"$samples"
done
median() { sort -n | sed -n "$(( runs / 2 + 1 ))p"; }
djpeg_ms=$(awk '{ printf "%.2f\n", $1 * 1000 }' "$samples" | median)
djpeg_cpu=$(awk '{ printf "%.2f\n", ($2 + $3) * 1000 }' "$samples" | median)

per() { awk -v t="$1" -v n="$count" 'BEGIN { printf "%.2f", t / n }'; }
printf 'browser: last thumbnail shown after %9.2f ms wall (%s ms per photo), cpu %9.2f ms (%s per photo); %d of %d shown\n' \
  "$last" "$(per "$last")" "$cpu" "$(per "$cpu")" "$shown" "$count"
printf 'browser: openFolder itself             %9.2f ms\n' "$open"
printf 'browser: the first screen of thumbnails %9.2f ms (with EXIF thumbnails %.2f ms; target at most 300)\n' \
  "$first" "$tfirst"
printf 'browser, EXIF thumbnails: last shown after %9.2f ms wall (%s ms per photo), cpu %9.2f ms; %d of %d shown\n' \
  "$tlast" "$(per "$tlast")" "$tcpu" "$tshown" "$count"
printf 'browser: longest UI-thread stall       %9.2f ms (median of runs; worst run %.2f ms)\n' "$stall" "$worst"
printf 'djpeg -scale 1/8 of every photo:      %9.2f ms wall (%s ms per photo), cpu %9.2f ms (%s per photo)\n' \
  "$djpeg_ms" "$(per "$djpeg_ms")" "$djpeg_cpu" "$(per "$djpeg_cpu")"
awk -v t="$last" -v d="$djpeg_ms" -v c="$cpu" -v dc="$djpeg_cpu" -v n="$count" -v s="$stall" 'BEGIN {
  printf "ratio browser / djpeg: wall %.2f, cpu %.2f\n", t / d, c / dc
  printf "targets: at most 12 ms per photo: %s; no stall over 50 ms: %s\n",
         (t / n <= 12) ? "met" : "missed", (s <= 50) ? "met" : "missed"
}'
awk -v t="$tlast" -v n="$count" 'BEGIN { printf "target with EXIF thumbnails: at most 2 ms per photo: %s\n", (t / n <= 2) ? "met" : "missed" }'
