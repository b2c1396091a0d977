#!/bin/sh
# Installs what the build needs, builds the program and its tests and runs
# every test headless with CTest.
set -eu
cd "$(dirname "$0")"
./scripts/deps.sh test
cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=Debug -DNTPSM_BUILD_TESTS=ON -DNTPSM_BUILD_TOOLS=ON -DNTPSM_WERROR=ON >/dev/null
cmake --build build-tests -j"$(nproc)"
cd build-tests
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 -j2
