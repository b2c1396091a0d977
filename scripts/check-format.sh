#!/bin/sh
# Fails when a C++ file of the tree differs from what the project's
# .clang-format makes of it; prints the files that drifted.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh
NTPSM_EXTRA_PACKAGES=clang-format ./scripts/deps.sh
drifted=""
for file in $(git ls-files '*.cpp' '*.h'); do
    if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
        drifted="$drifted $file"
    fi
done
if [ -n "$drifted" ]; then
    echo "check-format: not formatted with .clang-format:$drifted" >&2
    echo "check-format: run clang-format -i on them" >&2
    exit 1
fi
echo "check-format: all files formatted"
