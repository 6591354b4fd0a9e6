#!/usr/bin/env bash
# Installs what is missing, builds Korimo and starts it from its program folder (build/korimo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target korimo
exec build/korimo/korimo
