#!/usr/bin/env bash
# The headline benchmark: 8 photos of 4000 x 3000 (JPEG), 3.0 s still and 1.0 s transition each, effects
# 1 to 8, rendered by kestrelle-render into 1920 x 1080 at 29.97 with "Xvid MPEG-4 Codec" at the default
# rate (6,389,760 bit/s, a key frame every 30 frames), against, in the same run:
#   (a) ffmpeg encoding the same number of frames (960) from raw input with the same encoder, rate and
#       key-frame interval: the encoder's own cost. The raw input is one slide's worth of frames (90 still
#       frames and a 30-frame wipe, already in the encoder's pixel format) read eight times over from
#       memory, so ffmpeg spends nothing on decoding or converting;
#   (b) an ffmpeg slideshow of the same photos: each photo looped, scaled and padded to 1920 x 1080
#       (bicubic), xfade wipes, same encoder, rate and key-frame interval.
# Both sides use the encoder's default threading. Prints medians of RUNS runs (default 3), the ratios
# against the targets, and our peak memory.
# Each run also renders with KESTRELLE_ENCODE_EVERY_FRAME=1 (repeated still frames go through the
# encoder too): frames that reached the encoder and time, both ways. Unless QUALITY=0, one more render
# each way keeps the frames it encodes (bench/render_reference.cpp) for the mean PSNR of the decoded video
# against them (about 3 GB of scratch space in KESTRELLE_BENCH_WORK while it runs).
# Also the time to the first frame for a folder of 200 photos (the eight above, 25 times over, linked):
# kestrelle-render logs when its first frame is counted; the render is then cancelled with SIGINT.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built programs}"
runs="${RUNS:-3}"
work="${KESTRELLE_BENCH_WORK:-/tmp/kestrelle-headline}"
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm="$work"
mkdir -p "$work/photos" "$work/home"
raw="$shm/kestrelle-headline-slide.yuv"
trap 'rm -f "$raw"' EXIT

rate=6389760
fit="scale=1920:1080:force_original_aspect_ratio=decrease:flags=bicubic,pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=30000/1001,format=yuv420p"

if [ ! -f "$work/photos/p8.jpg" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=4000x3000:rate=1,noise=alls=12:allf=t" -frames:v 8 -q:v 3 \
    "$work/photos/p%d.jpg"
fi
ffmpeg -v error -y -framerate 30000/1001 -loop 1 -t 4 -i "$work/photos/p1.jpg" \
  -framerate 30000/1001 -loop 1 -t 4 -i "$work/photos/p2.jpg" \
  -filter_complex "[0]$fit[a];[1]$fit[b];[a][b]xfade=transition=wipeleft:duration=1:offset=3" \
  -frames:v 120 -f rawvideo "$raw"

first_frame() {
  local log="$work/home/share/Brightmoor/Kestrelle/run.log" pid line i
  mkdir -p "$(dirname "$log")"
  : >"$log"
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" "$bin/kestrelle-render" "$work/photos200" \
    -p "Full HD 1080p(.avi)" -s 3 -t 1 -o "$work/first.avi" -y -q 2>/dev/null &
  pid=$!
  line=""
  for ((i = 0; i < 1200; i++)); do
    sleep 0.05
    line=$(grep -a -o 'First frame [0-9]* ms' "$log" || true)
    [ -z "$line" ] || break
  done
  kill -INT "$pid" 2>/dev/null || true
  wait "$pid" || true
  echo "$line" | awk '{ print $3 }'
}

if [ ! -e "$work/photos200/p200.jpg" ]; then
  mkdir -p "$work/photos200"
  for ((i = 1; i <= 200; i++)); do ln -sf "$work/photos/p$(( (i - 1) % 8 + 1 )).jpg" "$work/photos200/p$(printf %03d $i).jpg"; done
fi

render_args=("$work/photos" -p "Full HD 1080p(.avi)" -s 3 -t 1 -e 1,2,3,4,5,6,7,8 -y -q)
ours() {
  : >"$work/home/share/Brightmoor/Kestrelle/run.log" 2>/dev/null || true
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" /usr/bin/time -f "%e %M" \
    "$bin/kestrelle-render" "${render_args[@]}" -o "$work/ours.avi" 2>&1 >/dev/null | tail -n 1
}

# Frames of the last render that reached the encoder: all of them, less those its run log (emptied by
# ours) says were stored without it.
encoded_frames() {
  local total skipped
  total=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1")
  skipped=$(grep -a "Frames stored without the encoder" "$work/home/share/Brightmoor/Kestrelle/run.log" 2>/dev/null |
    tail -n 1 | sed 's/.*encoder: \([0-9]*\) of.*/\1/')
  echo $((total - ${skipped:-0}))
}

# Mean PSNR (all planes) of a render's decoded video against the frames it handed to the encoder.
quality() {
  local out="$work/q.avi" raw="$work/q.yuv"
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" "$bin/render_reference" "$raw" "${render_args[@]}" -o "$out" \
    >/dev/null
  ffmpeg -nostdin -v info -i "$out" -f rawvideo -pix_fmt yuv420p -s 1920x1080 -framerate 2997/100 -i "$raw" \
    -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | cut -d: -f2
  rm -f "$raw" "$out"
}

encoder_only() {
  /usr/bin/time -f "%e %M" ffmpeg -v error -y -stream_loop 7 -f rawvideo -pix_fmt yuv420p -s 1920x1080 \
    -framerate 30000/1001 -i "$raw" -frames:v 960 -c:v libxvid -b:v $rate -g 30 -bf 0 -f avi "$work/a.avi" \
    2>&1 | tail -n 1
}

slideshow() {
  local i inputs=() chain="" last="v0" offset=3 wipes=(wipeleft wiperight wipeup wipedown)
  for i in 1 2 3 4 5 6 7 8; do
    # The first photo shows 3 s then leads out; the others also take 1 s of the transition leading in.
    inputs+=(-framerate 30000/1001 -loop 1 -t "$([ $i -eq 1 ] && echo 4 || echo 5)" -i "$work/photos/p$i.jpg")
    chain+="[$((i - 1))]$fit[v$((i - 1))];"
  done
  inputs+=(-f lavfi -i "color=black:size=1920x1080:rate=30000/1001:duration=1")
  chain+="[8]format=yuv420p[v8];"
  for i in 1 2 3 4 5 6 7 8; do
    chain+="[$last][v$i]xfade=transition=${wipes[$(( (i - 1) % 4 ))]}:duration=1:offset=$offset[x$i];"
    last="x$i"
    offset=$((offset + 4))
  done
  /usr/bin/time -f "%e %M" ffmpeg -v error -y "${inputs[@]}" -filter_complex "${chain%;}" -map "[$last]" \
    -frames:v 960 -c:v libxvid -b:v $rate -g 30 -bf 0 -f avi "$work/b.avi" 2>&1 | tail -n 1
}

: >"$work/ours.txt"; : >"$work/a.txt"; : >"$work/b.txt"; : >"$work/every.txt"; : >"$work/first.txt"
for ((i = 0; i < runs; i++)); do
  first_frame >>"$work/first.txt"
  ours >>"$work/ours.txt"
  ours_encoded=$(encoded_frames "$work/ours.avi")
  KESTRELLE_ENCODE_EVERY_FRAME=1 ours >>"$work/every.txt"
  every_encoded=$(encoded_frames "$work/ours.avi")
  encoder_only >>"$work/a.txt"
  slideshow >>"$work/b.txt"
done
median() { sort -n | sed -n "$(( runs / 2 + 1 ))p"; }
ours_s=$(cut -d' ' -f1 "$work/ours.txt" | median)
ours_kb=$(cut -d' ' -f2 "$work/ours.txt" | sort -n | tail -n 1)
a_s=$(cut -d' ' -f1 "$work/a.txt" | median)
b_s=$(cut -d' ' -f1 "$work/b.txt" | median)
every_s=$(cut -d' ' -f1 "$work/every.txt" | median)
first_ms=$(median <"$work/first.txt")
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/ours.avi")

echo "frames written by kestrelle-render: $frames; runs: $runs (medians of wall time)"
printf 'kestrelle-render:                 %7.2f s   peak memory %d MB (target <= 300)\n' "$ours_s" $((ours_kb / 1024))
printf '(a) ffmpeg encoder alone:         %7.2f s   ours / (a) = %.2f (target <= 1.25)\n' "$a_s" \
  "$(awk "BEGIN { print $ours_s / $a_s }")"
printf '(b) ffmpeg slideshow:             %7.2f s   (b) / ours = %.2f (target >= 4)\n' "$b_s" \
  "$(awk "BEGIN { print $b_s / $ours_s }")"
printf 'repeated stills through the encoder (KESTRELLE_ENCODE_EVERY_FRAME=1): %.2f s   / (a) = %.2f\n' "$every_s" \
  "$(awk "BEGIN { print $every_s / $a_s }")"
printf 'frames reaching the encoder: %d of %d with the shortcut (target <= half), %d without\n' "$ours_encoded" \
  "$frames" "$every_encoded"
printf 'render with the shortcut / without: %.2f; with the shortcut / (a) = %.2f (target <= 0.7)\n' \
  "$(awk "BEGIN { print $ours_s / $every_s }")" "$(awk "BEGIN { print $ours_s / $a_s }")"
if [ "${QUALITY:-1}" != 0 ]; then
  q_on=$(quality)
  q_off=$(KESTRELLE_ENCODE_EVERY_FRAME=1 quality)
  printf 'mean PSNR against the frames encoded: %s dB with the shortcut, %s dB without (target: within 0.1 dB)\n' \
    "$q_on" "$q_off"
fi
printf 'first frame, 200 photos:          %7.2f s\n' "$(awk "BEGIN { print $first_ms / 1000 }")"
