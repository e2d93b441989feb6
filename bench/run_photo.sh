#!/usr/bin/env bash
# Loading a 4000 x 3000 JPEG fitted into 1920 x 1080 (TurboJPEG at the smallest fast DCT scale that
# covers the drawn size, then resampled), against a full-size decode of the same file by
# libjpeg-turbo's djpeg, measured in the same run: medians of RUNS runs (default 9), wall time and
# CPU time (user + system; steadier than wall time on a busy machine).
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-9}"
command -v djpeg >/dev/null || { echo "djpeg not found (package libjpeg-turbo-progs)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
photo="$work/photo.jpg"
"$bin/photo_load_bench" make "$photo" 4000 3000
echo "photo: 4000 x 3000 JPEG, quality 90, $(stat -c %s "$photo") bytes; $runs runs each"

read -r our_wall our_cpu < <("$bin/photo_load_bench" time "$photo" "$runs" 1920 1080)

# djpeg: one untimed run to warm the page cache, like our untimed first load.
djpeg -outfile /dev/null "$photo"
TIMEFORMAT='%3R %3U %3S'
samples="$work/djpeg.txt"
: >"$samples"
for ((i = 0; i < runs; i++)); do
  { time djpeg -outfile /dev/null "$photo"; } 2>>"$samples"
done
median() { sort -n | sed -n "$(( runs / 2 + 1 ))p"; }
djpeg_wall=$(awk '{ printf "%.2f\n", $1 * 1000 }' "$samples" | median)
djpeg_cpu=$(awk '{ printf "%.2f\n", ($2 + $3) * 1000 }' "$samples" | median)

printf 'PhotoLoader::load into 1920 x 1080:        wall %8.2f ms   cpu %8.2f ms\n' "$our_wall" "$our_cpu"
printf 'djpeg full-size decode (process included): wall %8.2f ms   cpu %8.2f ms\n' "$djpeg_wall" "$djpeg_cpu"
awk -v ow="$our_wall" -v dw="$djpeg_wall" -v oc="$our_cpu" -v dc="$djpeg_cpu" 'BEGIN {
  printf "ratio ours / djpeg: wall %.2f, cpu %.2f (target: at most 0.5): %s\n", ow / dw, oc / dc,
         (ow <= 0.5 * dw) ? "met" : "missed"
}'
