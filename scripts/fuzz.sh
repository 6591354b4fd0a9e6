#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 30 s).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORIMO_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target fuzz_pop3 fuzz_readmail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=0
for target in pop3 readmail; do
    corpus="tests/fuzz/corpus_$target"
    [ "$target" = pop3 ] && corpus="tests/fuzz/corpus/pop3"
    mkdir -p "$work/$target"
    echo "== fuzz_$target for ${seconds}s"
    TMPDIR="$work" "./$build/tests/fuzz/fuzz_$target" "$work/$target" "$corpus" -max_total_time="$seconds" \
        -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 2>&1 | tail -n 12
done
