#!/usr/bin/env bash
# FRAMES frames of 1920 x 1080 slideshow-like content (120-frame stills and 30-frame wipes, 29.97 fps)
# written as MP4 through Mp4Writer (libx264 veryfast, 8000 kbit/s average, AAC 128 kbit/s silence,
# stills announced), against ffmpeg encoding the same frames, read from a raw BGRA file, with libx264
# at the same preset, bit rate, decoder buffer and key-frame distance plus AAC, and against an ffmpeg
# xfade slideshow of the two pictures to MP4 of the same length. Median of RUNS runs each, alternating;
# peak memory (maximum resident set) and the PSNR of the decoded frames against the frames handed over.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-3}"
frames="${FRAMES:-450}"
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time not found" >&2; exit 1; }

base="${TMPDIR:-/tmp}"
need=$(( frames * 1920 * 1080 * 4 + (512 << 20) ))
if [ -d /dev/shm ] && [ "$(df -B1 --output=avail /dev/shm | tail -1)" -gt "$need" ]; then base=/dev/shm; fi
work="$(mktemp -d "$base/kestrelle-mp4-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/share"  # the writer's run log goes here

raw="$work/frames.bgra"
"$bin/mp4_write_bench" raw "$raw" "$frames"
"$bin/mp4_write_bench" still "$work/a.bgra" 0
"$bin/mp4_write_bench" still "$work/b.bgra" 1
seconds=$(awk -v f="$frames" 'BEGIN { printf "%.3f", f / 29.97 }')
echo "frames: $frames x 1920 x 1080 BGRA in $base ($seconds s); $runs runs each"

size=(-s 1920x1080 -framerate 30000/1001)
x264=(-c:v libx264 -preset veryfast -profile:v high -b:v 8000k -maxrate 16000k -bufsize 32000k -g 60
      -pix_fmt yuv420p -c:a aac -b:a 128k -movflags +faststart)
silence=(-f lavfi -t "$seconds" -i anullsrc=r=44100:cl=stereo)
ffmpeg_raw=(ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra "${size[@]}" -i "$raw" "${silence[@]}"
            -map 0:v -map 1:a "${x264[@]}" -shortest "$work/ffmpeg.mp4")
# Two pictures, each shown 4 s then wiped to the next in 1 s, repeated to the same length.
ffmpeg_xfade=(ffmpeg -nostdin -v error -y
  -f rawvideo -pix_fmt bgra "${size[@]}" -stream_loop -1 -t 5 -i "$work/a.bgra"
  -f rawvideo -pix_fmt bgra "${size[@]}" -stream_loop -1 -t "$seconds" -i "$work/b.bgra" "${silence[@]}"
  -filter_complex "[0:v][1:v]xfade=transition=wipeleft:duration=1:offset=4,format=yuv420p[v]"
  -map "[v]" -map 2:a "${x264[@]}" -t "$seconds" "$work/xfade.mp4")

# Runs a command; prints "wall_ms cpu_ms peak_kb".
measure() {
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%d %d %d\n", $1 * 1000, ($2 + $3) * 1000, $4 }' "$work/time"
}

declare -a ow oc om fw fc fm xw xc xm
cat "$raw" >/dev/null
for ((i = 0; i < runs; i++)); do
  read -r w c m < <(measure "$bin/mp4_write_bench" write "$work/ours.mp4" "$frames"); ow+=("$w"); oc+=("$c"); om+=("$m")
  read -r w c m < <(measure "${ffmpeg_raw[@]}"); fw+=("$w"); fc+=("$c"); fm+=("$m")
  read -r w c m < <(measure "${ffmpeg_xfade[@]}"); xw+=("$w"); xc+=("$c"); xm+=("$m")
done
read -r pw pc pm < <(measure "$bin/mp4_write_bench" write "$work/plain.mp4" "$frames" plain)
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( $# / 2 + 1 ))p"; }

# PSNR (average over all frames, red, green and blue) of a file's decoded frames against the raw frames.
psnr() {
  ffmpeg -nostdin -v info -i "$1" -f rawvideo -pix_fmt bgra "${size[@]}" -i "$raw" \
    -lavfi "[0:v]format=rgb24[d];[1:v]format=rgb24[r];[d][r]psnr" -f null - 2>&1 | sed -n 's/.*average:\([0-9.inf]*\).*/\1/p' | tail -1
}

printf '%-40s %8s %8s %9s   %s\n' "" "wall ms" "cpu ms" "peak KiB" "wall runs"
printf '%-40s %8s %8s %9s   %s\n' "Mp4Writer (x264 + AAC, stills announced)" "$(median "${ow[@]}")" "$(median "${oc[@]}")" "$(median "${om[@]}")" "${ow[*]}"
printf '%-40s %8s %8s %9s   %s\n' "Mp4Writer, every frame converted" "$pw" "$pc" "$pm" "(one run)"
printf '%-40s %8s %8s %9s   %s\n' "ffmpeg libx264 + aac, same frames" "$(median "${fw[@]}")" "$(median "${fc[@]}")" "$(median "${fm[@]}")" "${fw[*]}"
printf '%-40s %8s %8s %9s   %s\n' "ffmpeg xfade slideshow to MP4" "$(median "${xw[@]}")" "$(median "${xc[@]}")" "$(median "${xm[@]}")" "${xw[*]}"
echo "sizes: ours $(stat -c %s "$work/ours.mp4"), ffmpeg $(stat -c %s "$work/ffmpeg.mp4"), xfade $(stat -c %s "$work/xfade.mp4") bytes"
echo "PSNR vs the frames handed over: ours $(psnr "$work/ours.mp4") dB, ffmpeg $(psnr "$work/ffmpeg.mp4") dB"
awk -v a="$(median "${ow[@]}")" -v b="$(median "${fw[@]}")" -v c="$(median "${xw[@]}")" 'BEGIN {
  printf "ratio ours / ffmpeg same frames, wall: %.3f\n", a / b
  printf "ratio ours / ffmpeg xfade, wall:       %.3f\n", a / c
}'
