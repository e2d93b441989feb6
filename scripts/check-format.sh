#!/usr/bin/env bash
# Fails when a C++ source of the repository differs from the layout .clang-format describes.
# ./scripts/check-format.sh --fix rewrites the files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${sources[@]}"
else
  clang-format --dry-run -Werror "${sources[@]}"
  echo "check-format: ${#sources[@]} sources follow .clang-format"
fi
