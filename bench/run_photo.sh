#!/usr/bin/env bash
# Loading a 4000 x 3000 JPEG fitted into 1920 x 1080 (TurboJPEG at the smallest fast DCT scale that
# covers the drawn size, then resampled), against a full-size decode of the same file by
# libjpeg-turbo's djpeg, measured in the same run: medians of RUNS runs (default 9), wall time and
# CPU time (user + system; steadier than wall time on a busy machine). Then the same photo with a restart
# marker at every row of MCUs (jpegtran -restart 1, as many cameras write them): its two halves decode on
# two threads, so its wall time is what counts (its CPU time is the two threads' together).
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

# The same coefficients with a restart marker at every row of MCUs.
command -v jpegtran >/dev/null || { echo "jpegtran not found (package libjpeg-turbo-progs)" >&2; exit 1; }
jpegtran -restart 1 -copy all -outfile "$work/restart.jpg" "$photo"
read -r strip_wall strip_cpu < <("$bin/photo_load_bench" time "$work/restart.jpg" "$runs" 1920 1080)
djpeg -outfile /dev/null "$work/restart.jpg"
: >"$samples"
for ((i = 0; i < runs; i++)); do
  { time djpeg -outfile /dev/null "$work/restart.jpg"; } 2>>"$samples"
done
rdjpeg_wall=$(awk '{ printf "%.2f\n", $1 * 1000 }' "$samples" | median)
printf 'with restart markers, PhotoLoader::load:   wall %8.2f ms   cpu %8.2f ms\n' "$strip_wall" "$strip_cpu"
printf 'with restart markers, djpeg full size:     wall %8.2f ms\n' "$rdjpeg_wall"
awk -v ow="$strip_wall" -v dw="$rdjpeg_wall" -v d0="$djpeg_wall" 'BEGIN {
  printf "ratio ours / djpeg with restart markers: wall %.2f (against djpeg on the plain file: %.2f) (target: at most 0.5): %s\n",
         ow / dw, ow / d0, (ow <= 0.5 * dw) ? "met" : "missed"
}'
