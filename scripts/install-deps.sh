#!/usr/bin/env bash
# Installs the Debian 12 packages Kestrelle builds, tests and runs with; only what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-image-formats-plugins qt6-multimedia-dev qt6-svg-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav gstreamer1.0-tools
  libavcodec-dev libavformat-dev libavutil-dev libswresample-dev libswscale-dev libaubio-dev
  libmp3lame-dev libmp3lame0 zlib1g-dev libheif-dev libturbojpeg0-dev libjpeg62-turbo-dev libwebp-dev
  libopencv-objdetect-dev libopencv-imgproc-dev opencv-data
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libjpeg-turbo-progs xvfb xauth x11-apps xdotool dbus at-spi2-core python3-pyatspi imagemagick time ccache
  clang-format fonts-liberation2
  desktop-file-utils appstream
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}"
log=$(mktemp)
if ! { "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
       "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "Installing the packages failed (full log: $log)" >&2
  exit 1
fi
rm -f "$log"
