#!/usr/bin/env bash
# Sets up a private home (three generated photos, settings that need no questions and never power off)
# and runs the end-to-end check under Xvfb with a private D-Bus session and accessibility bus.
#   road_of_one_video.sh BIN_DIR WORK_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin_dir="$1"
work="$2"
rm -rf "$work"
home="$work/home"
mkdir -p "$home/Pictures/Trip" "$home/Videos"
for colour in red green blue; do
  convert -size 800x600 "gradient:$colour-white" "$home/Pictures/Trip/$colour.jpg"
done
data="$home/.local/share/Brightmoor/Kestrelle"
mkdir -p "$data"
# No finish sound, no shut-down, the target chosen, 1-second slides and transitions with a fixed effect.
printf '%s\r\n' '<xml>' '<System>' '<Theme Path/>' "<TargetPath>$home/Videos</TargetPath>" \
  '<DefaultSelectedDirectory/>' '</System>' '<General>' '<PlaySound>0</PlaySound>' '<ShutDown>0</ShutDown>' \
  '<RipVolume>0</RipVolume>' '<DefaultSlideDuration>1.0</DefaultSlideDuration>' \
  '<DefaultTransitionDuration>1.0</DefaultTransitionDuration>' '<DefaultSlideIndex>1</DefaultSlideIndex>' \
  '</General>' '<Current Profile>Normal Quality(.avi)</Current Profile>' '<Target Changed>1</Target Changed>' \
  '<Preview Volume>-5000</Preview Volume>' '<Standard Skin>1</Standard Skin>' '</xml>' > "$data/settings.ini"

export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config"
export XDG_RUNTIME_DIR="$work/runtime" && mkdir -p -m 700 "$XDG_RUNTIME_DIR"
# A private runtime folder and TMPDIR keep any other running Kestrelle out of the single-instance socket.
export TMPDIR="$work/tmp" && mkdir -p "$TMPDIR"
# Nothing may reach the real system bus: the program's power-off goes through it.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=/nonexistent/kestrelle-e2e-system-bus"
# The program must show real windows on the Xvfb display, whatever platform the caller's environment
# names (a test run under QT_QPA_PLATFORM=offscreen would otherwise show nothing to click).
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/at-spi.log" 2>&1 &
launcher=$!
trap 'kill $launcher 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
/usr/bin/python3 "$here/road_of_one_video.py" "$bin_dir" "$work"
