#!/bin/bash
# Runs the daemon status code against the real NTPsec daemon: tst_statusdaemon
# starts ntpd itself inside a private network namespace (loopback only), with
# a local clock, statistics in a temporary folder and no right to set the
# clock, and stops it at the end. Installs Debian's ntpsec when missing,
# after a policy-rc.d that keeps its service from ever starting. Needs root.
set -uo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=${NTPSM_STATUS_BUILD:-$repo/build-tests}

[ "$(id -u)" -eq 0 ] || { echo "status daemon check: needs root" >&2; exit 2; }
if ! command -v ntpd >/dev/null; then
    grep -qx 'exit 101' /usr/sbin/policy-rc.d 2>/dev/null ||
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ntpsec || exit 2
fi
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DNTPSM_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target tst_statusdaemon || exit 2
cd "$build/tests" || exit 2
out=$(QT_QPA_PLATFORM=offscreen NTPSM_SOURCE_DIR="$repo" ./tst_statusdaemon 2>&1)
rc=$?
printf '%s\n' "$out" | grep -E '^(PASS|FAIL|SKIP|Totals)'
# A skip (no root, no daemon) is not a pass here.
if printf '%s\n' "$out" | grep -q '^SKIP'; then exit 1; fi
exit $rc
