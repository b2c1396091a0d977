#!/bin/bash
# Runs the check's daemon judge against the real NTPsec daemon: tst_daemonjudge
# judges the public corpus (answers compared with ../shared/tools/
# ntpd-accepts.sh) and traces one judgement with strace. Installs ntpsec and
# strace when missing, after a policy-rc.d that keeps ntpsec's service from
# ever starting. Needs root; a skip is a failure here.
set -uo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=${1:-$repo/build-tests}

[ "$(id -u)" -eq 0 ] || { echo "daemon judge: needs root" >&2; exit 2; }
if ! command -v ntpd >/dev/null || ! command -v strace >/dev/null; then
    grep -qx 'exit 101' /usr/sbin/policy-rc.d 2>/dev/null ||
        printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ntpsec strace || exit 2
fi
[ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DNTPSM_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j2 --target tst_daemonjudge || exit 2
cd "$build/tests" || exit 2
out=$(QT_QPA_PLATFORM=offscreen NTPSM_SOURCE_DIR="$repo" ./tst_daemonjudge 2>&1)
rc=$?
printf '%s\n' "$out" | grep -E '^(PASS|FAIL|SKIP|Totals)|^   '
if printf '%s\n' "$out" | grep -q '^SKIP'; then exit 1; fi
exit $rc
