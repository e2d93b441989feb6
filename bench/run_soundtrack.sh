#!/usr/bin/env bash
# The soundtrack benchmark: the headline render (8 photos of 4000 x 3000, 3.0 s still and 1.0 s
# transition each, effects 1 to 8, 1920 x 1080 at 29.97 with "Xvid MPEG-4 Codec") with a soundtrack of
# two generated songs covering the show (an MP3 at 44.1 kHz and a FLAC at 48 kHz, 17 s each, joined by
# the 2 s crossfade: decoded, resampled, mixed, dithered and encoded to MP3), against the same render
# without music (the silent stream every video has). The two renders take turns, RUNS times each
# (default 5). Prints the medians of wall time, the ratio (target: at most 5 % more), the medians of
# processor time (user and system, all threads: the work itself, whatever else the machine runs) and
# peak memory. The soundtrack's work runs beside the frames (a read-ahead thread for the mix, the MP3
# encoder's own thread), so on a machine whose second core is busy the wall time shows more of it.
set -euo pipefail
bin="${KESTRELLE_BENCH_BIN:?set KESTRELLE_BENCH_BIN to the folder of the built programs}"
runs="${RUNS:-5}"
work="${KESTRELLE_BENCH_WORK:-/tmp/kestrelle-soundtrack}"
mkdir -p "$work/photos" "$work/home" "$work/music"

if [ ! -f "$work/photos/p8.jpg" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=4000x3000:rate=1,noise=alls=12:allf=t" -frames:v 8 -q:v 3 \
    "$work/photos/p%d.jpg"
fi
# Songs with something to encode: a chord whose notes change every half second over pink noise, at a
# loudness that moves with a slow tremolo.
song() {
  local rate=$1 base=$2 out=$3
  ffmpeg -v error -y -f lavfi -i "aevalsrc='(0.25*sin(2*PI*$base*(1+mod(floor(2*t),4)/4)*t)+0.15*sin(2*PI*$base*1.5*t)+0.1*sin(2*PI*$base*2.01*t))*(0.7+0.3*sin(2*PI*0.3*t))|(0.25*sin(2*PI*$base*(1+mod(floor(2*t),4)/4)*t+0.4)+0.15*sin(2*PI*$base*1.26*t))*(0.7+0.3*sin(2*PI*0.3*t))':s=$rate:d=17" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.08:sample_rate=$rate:duration=17" \
    -filter_complex "[0][1]amix=inputs=2:normalize=0" "$out"
}
[ -f "$work/music/one.mp3" ] || song 44100 220 "$work/music/one.mp3"
[ -f "$work/music/two.flac" ] || song 48000 196 "$work/music/two.flac"

render_args=("$work/photos" -p "Full HD 1080p(.avi)" -s 3 -t 1 -e 1,2,3,4,5,6,7,8 -y -q)
render() {
  HOME="$work/home" XDG_DATA_HOME="$work/home/share" /usr/bin/time -f "%e %M %U %S" \
    "$bin/kestrelle-render" "${render_args[@]}" "$@" 2>&1 >/dev/null | tail -n 1
}

: >"$work/silent.txt"
: >"$work/music.txt"
for ((i = 0; i < runs; i++)); do
  render -o "$work/silent.avi" >>"$work/silent.txt"
  render --audio "$work/music/one.mp3" --audio "$work/music/two.flac" -o "$work/music.avi" >>"$work/music.txt"
done
median() { sort -n | sed -n "$(( runs / 2 + 1 ))p"; }
silent_s=$(cut -d' ' -f1 "$work/silent.txt" | median)
music_s=$(cut -d' ' -f1 "$work/music.txt" | median)
silent_kb=$(cut -d' ' -f2 "$work/silent.txt" | sort -n | tail -n 1)
music_kb=$(cut -d' ' -f2 "$work/music.txt" | sort -n | tail -n 1)
silent_cpu=$(awk '{ print $3 + $4 }' "$work/silent.txt" | median)
music_cpu=$(awk '{ print $3 + $4 }' "$work/music.txt" | median)
level=$(ffmpeg -nostdin -v info -i "$work/music.avi" -af volumedetect -f null - 2>&1 | grep -o 'mean_volume: [-0-9.]* dB' || true)

echo "runs: $runs each, taking turns (medians of wall time)"
printf 'headline render without music:    %7.2f s   peak memory %d MB\n' "$silent_s" $((silent_kb / 1024))
printf 'headline render with two songs:   %7.2f s   peak memory %d MB\n' "$music_s" $((music_kb / 1024))
printf 'with / without: %.3f (target <= 1.05)\n' "$(awk "BEGIN { print $music_s / $silent_s }")"
printf 'processor time: %.2f s without, %.2f s with; with / without: %.3f\n' "$silent_cpu" "$music_cpu" \
  "$(awk "BEGIN { print $music_cpu / $silent_cpu }")"
echo "the music in the video: ${level:-no level measured}"
