#!/usr/bin/env bash
# The MP4 benchmark: the headline show (8 photos of 4000 x 3000, 3.0 s still and 1.0 s transition each,
# effects 1 to 8) rendered by kestrelle-render with the "MP4 1080p" profile (1920 x 1080, 29.97,
# libx264 veryfast at 8,000 kbit/s average, AAC), against, in the same run:
#   (a) ffmpeg encoding the same frames (all 960, as our writer hands them to libx264: 4:2:0, BT.709,
#       kept by bench/render_reference.cpp, read from memory) with libx264 at the same preset, bit
#       rate, decoder buffer and key-frame distance, plus AAC silence: the encoder's own cost;
#   (b) an ffmpeg slideshow of the same photos: each photo looped, scaled and padded to 1920 x 1080,
#       xfade wipes, the same encoder settings.
# Prints medians of RUNS runs (default 3) of wall time, the ratios, our peak memory (maximum resident
# set), and the quality of both (PSNR of the decoded frames against those frames; ours from the render
# that kept them, as a random transition picks new pixels each run). The frames take
# about 3 GB in /dev/shm (or KESTRELLE_BENCH_WORK) while it runs.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built programs}"
runs="${RUNS:-3}"
work="${KESTRELLE_BENCH_WORK:-/tmp/kestrelle-headline}"
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm="$work"
mkdir -p "$work/photos" "$work/home/share"
raw="$shm/kestrelle-mp4-frames.yuv"
trap 'rm -f "$raw"' EXIT

fit="scale=1920:1080:force_original_aspect_ratio=decrease:flags=bicubic,pad=1920:1080:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=30000/1001,format=yuv420p"
x264=(-c:v libx264 -preset veryfast -profile:v high -b:v 8000k -maxrate 16000k -bufsize 32000k -g 60
      -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709
      -c:a aac -b:a 128k -movflags +faststart)
silence=(-f lavfi -t 32.032 -i anullsrc=r=44100:cl=stereo)

if [ ! -f "$work/photos/p8.jpg" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=4000x3000:rate=1,noise=alls=12:allf=t" -frames:v 8 -q:v 3 \
    "$work/photos/p%d.jpg"
fi
render_args=("$work/photos" -p "MP4 1080p" -s 3 -t 1 -e 1,2,3,4,5,6,7,8 -y -q)
run_log="$work/home/share/Brightmoor/Kestrelle/run.log"
HOME="$work/home" XDG_DATA_HOME="$work/home/share" "$bin/render_reference" --bt709 "$raw" "${render_args[@]}" \
  -o "$work/q.mp4" >/dev/null

# Prints "seconds peak_kb" of a command.
timed() {
  /usr/bin/time -f "%e %M" "$@" 2>&1 >/dev/null | tail -n 1
}

ours() {
  : >"$run_log" 2>/dev/null || true
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" timed "$bin/kestrelle-render" "${render_args[@]}" \
    -o "$work/ours.mp4"
}

encoder_only() {
  timed ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 \
    -framerate 30000/1001 -i "$raw" "${silence[@]}" -map 0:v -map 1:a -frames:v 960 "${x264[@]}" -shortest \
    "$work/a.mp4"
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
  timed ffmpeg -nostdin -v error -y "${inputs[@]}" "${silence[@]}" -filter_complex "${chain%;}" \
    -map "[$last]" -map 9:a -frames:v 960 "${x264[@]}" -shortest "$work/b.mp4"
}

# Mean PSNR (all planes) of a file's decoded video against the raw frames.
psnr() {
  ffmpeg -nostdin -v info -i "$1" -f rawvideo -pix_fmt yuv420p -s 1920x1080 \
    -framerate 30000/1001 -i "$2" -lavfi "[0:v]setpts=PTS-STARTPTS[d];[1:v]setpts=PTS-STARTPTS[r];[d][r]psnr=shortest=1" \
    -f null - 2>&1 | grep -o 'average:[0-9.inf]*' |
    cut -d: -f2
}

: >"$work/ours.txt"; : >"$work/a.txt"; : >"$work/b.txt"
for ((i = 0; i < runs; i++)); do
  ours >>"$work/ours.txt"
  encoder_only >>"$work/a.txt"
  slideshow >>"$work/b.txt"
done
median() { sort -n | sed -n "$(( runs / 2 + 1 ))p"; }
ours_s=$(cut -d' ' -f1 "$work/ours.txt" | median)
ours_kb=$(cut -d' ' -f2 "$work/ours.txt" | sort -n | tail -n 1)
a_s=$(cut -d' ' -f1 "$work/a.txt" | median)
b_s=$(cut -d' ' -f1 "$work/b.txt" | median)
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/ours.mp4")
b_frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/b.mp4")
skipped=$(grep -a "Frames stored without the encoder" "$run_log" | tail -n 1 | sed 's/.*encoder: \([0-9]*\) of.*/\1/')

echo "frames written by kestrelle-render: $frames, $skipped of them as skip frames; runs: $runs (medians of wall time)"
printf 'kestrelle-render -p "MP4 1080p":  %7.2f s   peak memory %d MB (target <= 250)\n' "$ours_s" $((ours_kb / 1024))
printf '(a) ffmpeg libx264 alone:         %7.2f s   ours / (a) = %.2f (target <= 0.5)\n' "$a_s" \
  "$(awk "BEGIN { print $ours_s / $a_s }")"
printf '(b) ffmpeg xfade slideshow:       %7.2f s   %d frames; per frame (b) / ours = %.2f (target >= 10)\n' \
  "$b_s" "$b_frames" "$(awk "BEGIN { print ($b_s / $b_frames) / ($ours_s / $frames) }")"
echo "sizes: ours $(stat -c %s "$work/ours.mp4"), (a) $(stat -c %s "$work/a.mp4"), (b) $(stat -c %s "$work/b.mp4") bytes"
printf 'mean PSNR against the frames encoded: ours %s dB, (a) %s dB (target: ours within 0.5 dB)\n' \
  "$(psnr "$work/q.mp4" "$raw")" "$(psnr "$work/a.mp4" "$raw")"
