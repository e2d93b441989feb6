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

# The headline show (8 photos of 4000 x 3000, 3 s still and 1 s wipe each, "Full HD 1080p(.avi)") rendered
# without motion, with --motion auto, and without motion but each photo loaded only when needed
# (KESTRELLE_LOAD_AHEAD=0: what loading ahead on a thread of its own gains). Medians of RUNS runs.
photos="${KESTRELLE_BENCH_WORK:-/tmp/kestrelle-headline}/photos"
mkdir -p "$photos" "$work/home"
if [ ! -f "$photos/p8.jpg" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=4000x3000:rate=1,noise=alls=12:allf=t" -frames:v 8 -q:v 3 \
    "$photos/p%d.jpg"
fi
# show ENV_ASSIGNMENT EXTRA_ARGUMENTS...: seconds and peak kilobytes of one render.
show() {
  local setting="$1"
  shift
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" /usr/bin/time -f "%e %M" env "$setting" \
    "$bin/kestrelle-render" "$photos" -p "Full HD 1080p(.avi)" -s 3 -t 1 -e 1,2,3,4,5,6,7,8 -y -q \
    -o "$work/show.avi" "$@" 2>&1 >/dev/null | tail -n 1
}
for _ in $(seq "$runs"); do
  show KESTRELLE_LOAD_AHEAD=2 >>"$work/still.txt"
  show KESTRELLE_LOAD_AHEAD=2 --motion auto --seed 1 >>"$work/moving.txt"
  show KESTRELLE_LOAD_AHEAD=0 >>"$work/in-turn.txt"
done
for name in still moving in-turn; do
  seconds=$(cut -d' ' -f1 "$work/$name.txt" | median)
  kilobytes=$(cut -d' ' -f2 "$work/$name.txt" | median)
  echo "$name $seconds $kilobytes"
done | awk '
  { s[$1] = $2; m[$1] = $3 }
  END {
    printf "show without motion: %.2f s, peak %d MB\n", s["still"], m["still"] / 1024
    printf "show with --motion auto: %.2f s, peak %d MB: %.2fx the time without motion\n", s["moving"], m["moving"] / 1024, s["moving"] / s["still"]
    printf "show loading each photo when needed: %.2f s: loading two ahead takes %.2fx its time\n", s["in-turn"], s["still"] / s["in-turn"]
  }'
