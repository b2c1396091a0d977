#!/bin/sh
# Installs what the build needs, builds the program and starts it on the
# current desktop session's display (X11, or XWayland in a Wayland session).
# The program runs as root: the launcher asks for the password through sudo,
# which names the caller, and lets root use the display while it runs.
set -eu
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNTPSM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
exec sh build/packaging/ntp-service-manager-launcher --sudo --program "$PWD/build/app/ntp-service-manager"
