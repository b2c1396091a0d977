#!/bin/bash
# Checks the files the program writes with the real NTP daemon's parser.
#
# 1. Installs Debian's "ntpsec" without ever starting its service: a
#    /usr/sbin/policy-rc.d that exits 101 is put in place first and kept.
# 2. Builds tst_daemoncheck in build-daemon (Release) and runs it with
#    NTPSM_DAEMON_TOOLS pointing at the daemon check tools (../shared/tools
#    beside the repository, or $NTPSM_DAEMON_TOOLS when already set), the
#    samples split into NTPSM_DAEMON_GROUPS (3) groups judged at once.
# Needs root (apt-get, and the tools run the daemon in private namespaces).
set -uo pipefail

repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
# NTPSM_DAEMON_BUILD: an existing build folder to reuse (CI passes the test build).
build=${NTPSM_DAEMON_BUILD:-$repo/build-daemon}
tools=${NTPSM_DAEMON_TOOLS:-$(readlink -f "$repo/../shared/tools")}

as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"

ensure_policy_rc() {
    # invoke-rc.d asks this file before starting any service; 101 = "no".
    if ! grep -qx 'exit 101' /usr/sbin/policy-rc.d 2>/dev/null; then
        printf '#!/bin/sh\n# No service may be started by package installs.\nexit 101\n' |
            $as_root tee /usr/sbin/policy-rc.d >/dev/null
    fi
    $as_root chmod 755 /usr/sbin/policy-rc.d
}

ensure_ntpsec() {
    if dpkg-query -W -f='${Status}' ntpsec 2>/dev/null | grep -q "install ok installed"; then
        return 0
    fi
    ensure_policy_rc
    $as_root apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq ntpsec
}

ensure_policy_rc
ensure_ntpsec || { echo "daemon check: cannot install ntpsec" >&2; exit 2; }
[ -x "$tools/ntpd-accepts.sh" ] || { echo "daemon check: no tools in $tools" >&2; exit 2; }

build_type=()
[ -f "$build/CMakeCache.txt" ] || build_type=(-DCMAKE_BUILD_TYPE=Release)
cmake -S "$repo" -B "$build" "${build_type[@]}" -DNTPSM_BUILD_TESTS=ON >/dev/null &&
    cmake --build "$build" -j2 --target tst_daemoncheck || exit 2

# ntpd reads its configuration within milliseconds of starting; one second
# per daemon run is plenty and keeps the check to a few minutes.
export NTPD_ACCEPTS_WAIT=${NTPD_ACCEPTS_WAIT:-1}
# The daemon runs mostly wait, so the samples are judged in a few groups at
# once, each by its own test process over a folder of links to its share.
samples=${NTPSM_DAEMON_SAMPLES:-$repo/fuzz/seeds}
groups=${NTPSM_DAEMON_GROUPS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
i=0
for sample in "$samples"/*.conf; do
    group="$work/group$((i % groups))"
    mkdir -p "$group"
    ln -s "$(readlink -f "$sample")" "$group/$(basename "$sample")"
    i=$((i + 1))
done
pids=()
for group in "$work"/group*; do
    (cd "$build" && QT_QPA_PLATFORM=offscreen NTPSM_DAEMON_TOOLS="$tools" \
        NTPSM_DAEMON_SAMPLES="$group" ./tests/tst_daemoncheck -maxwarnings 0) \
        >"$group.log" 2>&1 &
    pids+=($!)
done
rc=0
for pid in "${pids[@]}"; do
    wait "$pid" || rc=1
done
cat "$work"/group*.log

passed=$(cat "$work"/group*.log | grep -c '^PASS   : ')
failed=$(cat "$work"/group*.log | grep -c '^FAIL!  : ')
echo "daemon check: $passed passed, $failed failed"
[ "$rc" -eq 0 ] && [ "$failed" -eq 0 ]
