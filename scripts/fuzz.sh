#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 30 s each), starting from
# its corpus in tests/fuzz/corpus/<name>. New inputs go to a scratch folder, never into the repository.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: pop3 summary readmail ini compose (default: all)
# A finding stops the script with a non-zero status; the input is left as ./crash-* or ./timeout-*.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(pop3 summary readmail ini compose)
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORIMO_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/#/fuzz_}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    echo "== fuzz_$target for ${seconds}s"
    TMPDIR="$work" "./$build/tests/fuzz/fuzz_$target" "$work/$target" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 2>&1 |
        tail -n 12
done
