#!/usr/bin/env bash
# The cost of one frame of a slow zoom at 1920 x 1080 on one thread (Fill, 1.0 to 1.15 over 3 s at 30 fps,
# from a 4000 x 3000 photo), ours against ffmpeg's zoompan filter making the same frames from the same
# photo with one filter thread, and how smoothly a small marker on the photo follows its ideal eased path
# in both. zoompan's time a frame is (time for FRAMES frames - time for one frame) / (FRAMES - 1), so the
# photo's decoding is left out; each is the median of RUNS runs.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
frames="${FRAMES:-90}"
runs="${RUNS:-3}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$bin/motion_bench" "$frames"

if ! command -v ffmpeg >/dev/null; then
  echo "zoompan: ffmpeg not found, skipped"
  exit 0
fi
"$bin/motion_bench" --photo "$work/photo.png"
# The same view as ours: the Fill crop, then the zoom about its centre with the same smoothstep easing.
p="(on/$frames)"
zoom="1/(1-(1-1/1.15)*$p*$p*(3-2*$p))"
filter="crop=4000:2250:0:375,zoompan=z='$zoom':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':s=1920x1080:fps=30"

milliseconds() {
  local count="$1" start end
  start=$(date +%s%N)
  ffmpeg -nostdin -v error -filter_threads 1 -threads 1 -i "$work/photo.png" -vf "$filter:d=$count" \
    -frames:v "$count" -f null -
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

all=$(for _ in $(seq "$runs"); do milliseconds "$frames"; done | median)
one=$(for _ in $(seq "$runs"); do milliseconds 1; done | median)
awk -v all="$all" -v one="$one" -v n="$frames" \
  'BEGIN { printf "zoompan: %d frames in %d ms, one frame in %d ms: %.2f ms a frame\n", n, all, one, (all - one) / (n - 1) }'

ffmpeg -nostdin -v error -filter_threads 1 -threads 1 -i "$work/photo.png" -vf "$filter:d=$frames,format=gray" \
  -frames:v "$frames" -f rawvideo -pix_fmt gray - | "$bin/motion_bench" --follow-gray "$frames" | sed 's/^frames read/zoompan/'
