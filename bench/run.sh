#!/usr/bin/env bash
# Builds the benchmarks in Release and runs them: every bench/run_*.sh, or only those named.
#   ./bench/run.sh            all benchmarks
#   ./bench/run.sh photo      bench/run_photo.sh only
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRELLE_BENCH=ON -DKESTRELLE_TESTS=OFF >/dev/null
cmake --build build-bench
export KESTRELLE_BENCH_BIN="$PWD/build-bench/bin"
if [ $# -eq 0 ]; then
  for script in bench/run_*.sh; do echo "== $script"; bash "$script"; done
else
  for name in "$@"; do echo "== bench/run_$name.sh"; bash "bench/run_$name.sh"; done
fi
