#!/usr/bin/env bash
# Prints the non-blank lines of product code and of test code (everything under tests/) and the tests'
# share of all code. Counts tracked files only, so build outputs never count.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -- '*.cpp' '*.h' '*.sh' '*.py' '*.cmake' '*CMakeLists.txt' '.ci/*' | while read -r f; do
    [ -f "$f" ] || continue
    case $f in tests/fuzz/corpus*) continue ;; tests/*) kind=tests ;; *) kind=product ;; esac
    printf '%s %s\n' "$kind" "$(grep -cv '^[[:space:]]*$' "$f" || true)"
done | awk '{ lines[$1] += $2 }
    END {
        total = lines["product"] + lines["tests"]
        printf "code lines: product %d, tests %d, tests share %.1f%%\n", lines["product"], lines["tests"], total ? 100 * lines["tests"] / total : 0
    }'
