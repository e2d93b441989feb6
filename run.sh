#!/usr/bin/env bash
# Installs what is missing, builds and starts Kestrelle (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kestrelle
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/kestrelle "$@"
fi
exec build/bin/kestrelle "$@"
