#!/bin/bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan, Debug) and runs the whole test suite. Fails when a test fails
# or when any sanitizer report shows up in the output, also one from a
# helper process whose exit status no test looks at.
set -uo pipefail

repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build="$repo/build-asan"

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DNTPSM_SANITIZE=ON -DNTPSM_WERROR=ON \
    -DNTPSM_BUILD_TESTS=ON >/dev/null &&
    cmake --build "$build" -j2 || exit 2

log="$build/sanitize-test.log"
(cd "$build" && ctest -V -j2) >"$log" 2>&1
rc=$?
grep -E '^[0-9]+/[0-9]+ Test|tests passed|tests failed|\*\*\*Failed|\*\*\*Timeout' "$log" |
    sed -E 's/^[0-9]+: //'

reports=$(grep -E -c 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: (Address|Leak|UndefinedBehavior)Sanitizer' "$log")
if [ "$reports" -ne 0 ]; then
    echo "sanitize: $reports sanitizer report lines; the reports:"
    grep -E -B2 -A30 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$log" | head -400
fi
if [ "$rc" -ne 0 ] || [ "$reports" -ne 0 ]; then
    echo "sanitize: FAILED (full log: $log)"
    exit 1
fi
echo "sanitize: all tests pass without a sanitizer report"
