#!/usr/bin/env bash
# Loading a 4000 x 3000 JPEG fitted into 1920 x 1080 (decoded at the smallest fast DCT scale that covers
# the drawn size, on two threads, then resampled), against a full-size decode of the same file by
# libjpeg-turbo's djpeg. The two are measured in turns, round after round (RUNS rounds, default 9), so
# that a machine that speeds up or slows down during the run weighs on both alike: each round times nine
# of our loads in one process (their median; the process's first load is untimed), as a slideshow loads
# photo after photo, and three runs of djpeg. Reported: the medians of wall time and CPU time (user +
# system) over the rounds for ours, over every run for djpeg. Then the same photo with a restart marker
# at every row of MCUs (jpegtran -restart 1, as many cameras write them).
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-9}"
command -v djpeg >/dev/null || { echo "djpeg not found (package libjpeg-turbo-progs)" >&2; exit 1; }
command -v jpegtran >/dev/null || { echo "jpegtran not found (package libjpeg-turbo-progs)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
photo="$work/photo.jpg"
"$bin/photo_load_bench" make "$photo" 4000 3000
jpegtran -restart 1 -copy all -outfile "$work/restart.jpg" "$photo"
echo "photo: 4000 x 3000 JPEG, quality 90, $(stat -c %s "$photo") bytes; $runs rounds"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int(NR / 2) + 1] }'; }
TIMEFORMAT='%3R %3U %3S'

# Prints "ours_wall ours_cpu djpeg_wall djpeg_cpu" (medians, in ms) for one file.
measure() {
  local file="$1" ours="$work/ours.txt" theirs="$work/djpeg.txt"
  : >"$ours"
  : >"$theirs"
  djpeg -outfile /dev/null "$file"  # warms the page cache, like our untimed first load
  for ((i = 0; i < runs; i++)); do
    "$bin/photo_load_bench" time "$file" 9 1920 1080 >>"$ours"
    for ((j = 0; j < 3; j++)); do
      { time djpeg -outfile /dev/null "$file"; } 2>>"$theirs"
    done
  done
  echo "$(awk '{ print $1 }' "$ours" | median) $(awk '{ print $2 }' "$ours" | median)" \
       "$(awk '{ printf "%.2f\n", $1 * 1000 }' "$theirs" | median)" \
       "$(awk '{ printf "%.2f\n", ($2 + $3) * 1000 }' "$theirs" | median)"
}

read -r our_wall our_cpu djpeg_wall djpeg_cpu < <(measure "$photo")
printf 'PhotoLoader::load into 1920 x 1080:        wall %8.2f ms   cpu %8.2f ms\n' "$our_wall" "$our_cpu"
printf 'djpeg full-size decode (process included): wall %8.2f ms   cpu %8.2f ms\n' "$djpeg_wall" "$djpeg_cpu"
awk -v ow="$our_wall" -v dw="$djpeg_wall" -v oc="$our_cpu" -v dc="$djpeg_cpu" 'BEGIN {
  printf "ratio ours / djpeg: wall %.2f, cpu %.2f (target: at most 0.5): %s\n", ow / dw, oc / dc,
         (ow <= 0.5 * dw) ? "met" : "missed"
}'

read -r marked_wall marked_cpu rdjpeg_wall rdjpeg_cpu < <(measure "$work/restart.jpg")
printf 'with restart markers, PhotoLoader::load:   wall %8.2f ms   cpu %8.2f ms\n' "$marked_wall" "$marked_cpu"
printf 'with restart markers, djpeg full size:     wall %8.2f ms   cpu %8.2f ms\n' "$rdjpeg_wall" "$rdjpeg_cpu"
awk -v ow="$marked_wall" -v dw="$rdjpeg_wall" 'BEGIN {
  printf "ratio ours / djpeg with restart markers: wall %.2f (target: at most 0.5): %s\n",
         ow / dw, (ow <= 0.5 * dw) ? "met" : "missed"
}'
