#!/usr/bin/env bash
# Prints the non-blank, non-comment lines of C++ in the product (src/, tools/) and in the tests
# (tests/, fuzz/: sources only, not vectors, corpora, dictionaries or CMakeLists.txt), and their
# ratio. With --check, fails when the tests exceed LIMIT (default 0.40) of the product.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=${LIMIT:-0.40}
count() {
    git ls-files -- "$@" | grep -E '\.(cpp|h|hpp|cc)$' | xargs -r cat | grep -c -v -E '^\s*($|//)'
}
code=$(count src tools)
tests=$(count tests fuzz)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.2f", t / c }')
echo "Code lines (src, tools): $code; test lines (tests, fuzz): $tests; ratio $ratio (limit $limit)"
if [ "${1:-}" = --check ] && awk -v r="$ratio" -v l="$limit" 'BEGIN { exit !(r > l) }'; then
    echo "The tests are more than $limit of the code: fold rows into tables, drop what restates." >&2
    exit 1
fi
