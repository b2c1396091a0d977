#!/bin/bash
# run-status-bench.sh BUILD_DIR [SECONDS]
# Runs bench_status against the real NTPsec daemon, started inside a private
# network namespace (loopback only) with a local clock and without the right
# to set the clock, for SECONDS (default 60) of polling, then the service
# command and parsing measurements. Needs root, ntpd, unshare and setpriv.
set -u
bench=$(readlink -f "$1")/bench/bench_status
seconds=${2:-60}
[ -x "$bench" ] || { echo "build bench_status first (-DNTPSM_BUILD_BENCH=ON)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/stats"
cat >"$work/ntp.conf" <<CONF
server 127.127.1.0 minpoll 3 maxpoll 3 prefer
fudge 127.127.1.0 stratum 10
tos mindist 0.01 minsane 1
restrict default
restrict 127.0.0.1
restrict ::1
statsdir $work/stats/
statistics loopstats peerstats
filegen loopstats file loopstats type day enable
filegen peerstats file peerstats type day enable
CONF
printf 'statsdir %s/stats/\n' "$work" >"$work/edited.conf"
export QT_QPA_PLATFORM=offscreen
unshare -n bash -c '
    ip link set lo up
    setpriv --bounding-set=-sys_time --inh-caps=-sys_time ntpd -n -c "$1/ntp.conf" >"$1/ntpd.log" 2>&1 &
    daemon=$!
    sleep 3
    "$2" stall "$3" "$1/edited.conf"; rc=$?
    kill $daemon; wait $daemon 2>/dev/null
    exit $rc' sh "$work" "$bench" "$seconds"
stall=$?
"$bench" command 10; command=$?
"$bench" parse 50; parse=$?
[ $stall -eq 0 ] && [ $command -eq 0 ] && [ $parse -eq 0 ]
