#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DKESTRELLE_TESTS=ON >/dev/null
cmake --build build
cd build
ctest --output-on-failure -j2 --timeout 300
