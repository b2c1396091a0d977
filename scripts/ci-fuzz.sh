#!/bin/bash
# Builds the configuration store's libFuzzer target with clang (build-fuzz)
# and runs it for a minute on a scratch copy of fuzz/seeds, so that nothing
# the fuzzer finds on the way is added to the repository. A crashing input
# is kept as build-fuzz/findings/crash-*; the script then fails.
#   NTPSM_FUZZ_SECONDS  longest run time (default 60)
#   NTPSM_FUZZ_SEED     libFuzzer seed (default 1: CI repeats the same runs;
#                       give another, or 0 for a random one, to explore)
#   NTPSM_FUZZ_RUNS     number of inputs tried (default 15000)
set -uo pipefail

repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build="$repo/build-fuzz"
seconds=${NTPSM_FUZZ_SECONDS:-60}
seed=${NTPSM_FUZZ_SEED:-1}
runs=${NTPSM_FUZZ_RUNS:-15000}

if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    as_root=""
    [ "$(id -u)" -eq 0 ] || as_root="sudo"
    DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq clang libclang-rt-14-dev ||
        exit 2
fi

CC=clang CXX=clang++ cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNTPSM_BUILD_FUZZ=ON -DNTPSM_BUILD_TESTS=OFF >/dev/null &&
    cmake --build "$build" -j2 --target fuzz_config || exit 2

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$repo"/fuzz/seeds/* "$corpus"/
mkdir -p "$build/findings"
cd "$build/findings" || exit 2
# The store reads files in the locale's encoding, as on a Debian system.
LC_ALL=C.UTF-8 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/fuzz_config" -seed="$seed" -runs="$runs" -max_total_time="$seconds" \
    -max_len=4096 -timeout=5 \
    -artifact_prefix="$build/findings/" -print_final_stats=1 "$corpus"
rc=$?
[ "$rc" -eq 0 ] && echo "fuzz: no findings (seed $seed, at most $runs inputs or ${seconds}s)" || echo "fuzz: FINDINGS, see $build/findings"
exit "$rc"
