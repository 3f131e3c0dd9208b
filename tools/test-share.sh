#!/usr/bin/env bash
# How large the tests are against the code: all lines of the files under
# tests/ (C++, shell, Python, wizard scripts, CMake), without fuzz corpora and
# data, against all lines of C++ under src/. Prints both counts and the share.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { if [ $# -eq 0 ]; then echo 0; else cat -- "$@" | wc -l; fi; }
mapfile -d '' tests < <(find tests -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \
    -o -name '*.py' -o -name '*.txt' -o -name '*.cmake' -o -name '*.supp' \) \
    -not -path 'tests/fuzz/corpus/*' -print0)
mapfile -d '' code < <(find src -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
t=$(count "${tests[@]}")
s=$(count "${code[@]}")
echo "tests: $t lines in ${#tests[@]} files"
echo "code:  $s lines of C++ in ${#code[@]} files"
echo "share: $((100 * t / s))%"
