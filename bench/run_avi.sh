#!/usr/bin/env bash
# 900 frames of 1920 x 1080 slideshow-like content (stills and wipes) written through AviWriter with the
# "Xvid MPEG-4 Codec" entry at the default rate (798,720 bytes/s, key frame every 30, 29.97 fps, MP3
# silence), against ffmpeg encoding the same frames, read from a raw BGRA file, with libxvid at the same
# rate and key-frame interval and the encoder's default threading on both sides, alone and with an MP3
# track like ours. Median of RUNS runs each, alternating, in the same run. Wall-clock time
# decides; processor time (user + system) is printed too, as it moves less on a busy machine.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built benchmarks}"
runs="${RUNS:-5}"
frames="${FRAMES:-900}"
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }

# The raw frames take frames x 8 MB: keep them in memory when /dev/shm has room.
base="${TMPDIR:-/tmp}"
need=$(( frames * 1920 * 1080 * 4 + (512 << 20) ))
if [ -d /dev/shm ] && [ "$(df -B1 --output=avail /dev/shm | tail -1)" -gt "$need" ]; then base=/dev/shm; fi
work="$(mktemp -d "$base/kestrelle-avi-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export XDG_DATA_HOME="$work/share"  # the writer's run log goes here, not into the user's data folder

raw="$work/frames.bgra"
"$bin/avi_write_bench" raw "$raw" "$frames"
echo "frames: $frames x 1920 x 1080 BGRA in $base; $runs runs each"

ffmpeg_in=(ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -framerate 29.97 -i "$raw")
ffmpeg_video=(-c:v libxvid -b:v 6389760 -g 30 -bf 0 -pix_fmt yuv420p)
ffmpeg_mp3=(-f lavfi -i anullsrc=r=44100:cl=stereo -map 0:v -map 1:a -c:a libmp3lame -b:a 192k -shortest)

# Runs a command; prints "wall_ms cpu_ms".
measure() {
  local out
  out=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
  awk -v t="$out" 'BEGIN { split(t, f, " "); printf "%d %d\n", f[1] * 1000, (f[2] + f[3]) * 1000 }'
}

ours_w=(); ours_c=(); vid_w=(); vid_c=(); mp3_w=(); mp3_c=()
cat "$raw" >/dev/null  # warm the cache like every later run
for ((i = 0; i < runs; i++)); do
  read -r w c < <("$bin/avi_write_bench" write "$work/ours.avi" "$frames" | awk '{ printf "%d %d\n", $1 * 1000, $2 * 1000 }')
  ours_w+=("$w"); ours_c+=("$c")
  read -r w c < <(measure "${ffmpeg_in[@]}" "${ffmpeg_video[@]}" "$work/ffmpeg.avi")
  vid_w+=("$w"); vid_c+=("$c")
  read -r w c < <(measure "${ffmpeg_in[@]}" "${ffmpeg_mp3[@]}" "${ffmpeg_video[@]}" "$work/ffmpeg_mp3.avi")
  mp3_w+=("$w"); mp3_c+=("$c")
done
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( $# / 2 + 1 ))p"; }

printf '%-34s %8s %8s   %s\n' "" "wall ms" "cpu ms" "wall runs"
printf '%-34s %8s %8s   %s\n' "AviWriter (XVID + MP3)" "$(median "${ours_w[@]}")" "$(median "${ours_c[@]}")" "${ours_w[*]}"
printf '%-34s %8s %8s   %s\n' "ffmpeg libxvid, video only" "$(median "${vid_w[@]}")" "$(median "${vid_c[@]}")" "${vid_w[*]}"
printf '%-34s %8s %8s   %s\n' "ffmpeg libxvid + libmp3lame" "$(median "${mp3_w[@]}")" "$(median "${mp3_c[@]}")" "${mp3_w[*]}"
echo "sizes: ours $(stat -c %s "$work/ours.avi") bytes, ffmpeg $(stat -c %s "$work/ffmpeg.avi") bytes"
awk -v a="$(median "${ours_w[@]}")" -v b="$(median "${vid_w[@]}")" -v c="$(median "${mp3_w[@]}")" \
    -v ac="$(median "${ours_c[@]}")" -v bc="$(median "${vid_c[@]}")" 'BEGIN {
  printf "ratio ours / ffmpeg video only, wall: %.3f (%s)\n", a / b, (a <= b ? "target met" : "target missed")
  printf "ratio ours / ffmpeg video only, cpu:  %.3f\n", ac / bc
  printf "ratio ours / ffmpeg with MP3, wall:   %.3f\n", a / c
}'
