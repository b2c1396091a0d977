#!/bin/bash
# Starts the built program headless on this machine's real NTPsec layout and
# shows that it edits /etc/ntpsec/ntp.conf (and never reads /etc/ntp.conf).
#
# Installs Debian's ntpsec and strace if needed, with a /usr/sbin/policy-rc.d
# that exits 101 so that no service is ever started. The program runs as root
# in a private mount namespace whose /etc is a throw-away copy, on the
# offscreen platform, for a few seconds under strace; then it is sent SIGTERM.
# It passes when the program ran until then, opened /etc/ntpsec/ntp.conf,
# did not open /etc/ntp.conf, ran no init script or systemctl, and the real
# /etc/ntpsec/ntp.conf is unchanged.
# Usage: scripts/ci-real-layout.sh [build-dir]   (default: build-tests)
set -uo pipefail
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=${1:-$repo/build-tests}
[ "$(id -u)" -eq 0 ] || { echo "real layout: needs root (unshare, mount)" >&2; exit 2; }

if ! grep -qx 'exit 101' /usr/sbin/policy-rc.d 2>/dev/null; then
    printf '#!/bin/sh\n# No service may be started by package installs.\nexit 101\n' >/usr/sbin/policy-rc.d
fi
chmod 755 /usr/sbin/policy-rc.d
missing=""
for p in ntpsec strace; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null ||
        { echo "real layout: cannot install$missing" >&2; exit 2; }
fi
[ -f /etc/ntpsec/ntp.conf ] || { echo "real layout: no /etc/ntpsec/ntp.conf" >&2; exit 2; }

[ -f "$build/CMakeCache.txt" ] || cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target ntp-service-manager >/dev/null || exit 2
program=$build/app/ntp-service-manager

work=$(mktemp -d /tmp/ntpsm-real-layout.XXXXXX)
trap 'rm -rf "$work"' EXIT
before=$(sha256sum /etc/ntpsec/ntp.conf)
cp -a /etc "$work/etc" 2>/dev/null
mkdir -m 700 "$work/runtime" "$work/home"

# The program stays up for five seconds; an early end is a failure.
unshare --mount --propagation private env WORK="$work" PROGRAM="$program" bash -c '
    mount --bind "$WORK/etc" /etc || exit 3
    export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$WORK/runtime HOME=$WORK/home
    strace -f -qq -o "$WORK/trace.txt" -e trace=openat,execve \
        sh -c "echo \$\$ >\"$WORK/pid\"; exec \"$PROGRAM\"" >"$WORK/program.log" 2>&1 &
    tracer=$!
    sleep 5
    kill -0 "$tracer" 2>/dev/null || { echo "the program ended early"; wait "$tracer"; exit 4; }
    kill -TERM "$(cat "$WORK/pid")"
    wait "$tracer"
    exit 0'
rc=$?
failed=0
check() { if eval "$2"; then echo "real layout: ok: $1"; else echo "real layout: FAILED: $1"; failed=1; fi; }
check "the program ran until it was closed" '[ "$rc" -eq 0 ]'
check "it opened /etc/ntpsec/ntp.conf" 'grep -q "openat(AT_FDCWD, \"/etc/ntpsec/ntp.conf\", O_RDONLY.*= [0-9]" "$work/trace.txt"'
check "it did not open /etc/ntp.conf" '! grep -q "openat(AT_FDCWD, \"/etc/ntp.conf\"" "$work/trace.txt"'
check "it ran no service command" '! grep -Eq "execve\(\"[^\"]*(init\.d/|systemctl)" "$work/trace.txt"'
check "it asked the installed ntpd for its version" 'grep -q "execve(\"/usr/sbin/ntpd\", \[\"/usr/sbin/ntpd\", \"--version\"\]" "$work/trace.txt"'
check "the real /etc/ntpsec/ntp.conf is unchanged" '[ "$(sha256sum /etc/ntpsec/ntp.conf)" = "$before" ]'
if [ "$failed" -ne 0 ]; then
    echo "--- program output"; cat "$work/program.log"
    echo "--- files and programs (excerpt)"; grep -E "ntp|init\.d|systemctl" "$work/trace.txt" | head -40
fi
exit "$failed"
