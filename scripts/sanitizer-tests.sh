#!/usr/bin/env bash
# Builds every test with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan and runs them.
# UBSan stops at its first report (halt_on_error), so undefined behaviour fails the test that meets it
# instead of printing into output ctest hides. Extra arguments go to ctest (e.g. -R output).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -G Ninja -DKESTRELLE_SANITIZE=ON -DKESTRELLE_TESTS=ON >/dev/null
cmake --build build-asan -j2
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=0
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
cd build-asan
ctest --output-on-failure -j2 --timeout 900 "$@"
