#!/bin/sh
# Installs what the build needs, builds the program and starts it on the
# current X display. The program runs as root; a normal user is asked for
# the password by sudo, which keeps the display and names the caller.
set -eu
cd "$(dirname "$0")"
if [ -z "${DISPLAY:-}" ]; then
    echo "run.sh: no X display (DISPLAY is not set); start it from a desktop session." >&2
    exit 1
fi
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNTPSM_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
if [ "$(id -u)" -ne 0 ]; then
    exec sudo --preserve-env=DISPLAY,XAUTHORITY "XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}" ./build/app/ntp-service-manager
fi
exec ./build/app/ntp-service-manager
