#!/usr/bin/env bash
# Builds Korimo with warnings as errors and runs every test.
#   scripts/test.sh [BUILD_DIR] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORIMO_WERROR=ON "$@"
cmake --build "$build" --parallel "$(nproc)"
status=0
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600 || status=$?
# The tests' share of all code, after every run, passed or failed.
bash scripts/code-share.sh
exit "$status"
