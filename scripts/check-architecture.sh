#!/bin/bash
# Fails when the program's structure breaks its rules (docs/architecture.md):
#  1. a library links a target it may not (from CMake's own dependency
#     graph: cmake --graphviz on a scratch configuration), or a library of the
#     program has no rule here;
#  2. program code other than the window's own files includes app/fntp.h
#     (tests, benchmarks and tools drive the window and may);
#  3. anything but app/fntp.cpp looks up one of the window's form objects
#     (app/fmain.ui) by name.
# Usage: scripts/check-architecture.sh [scratch-dir]   (default: build-arch)
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
scratch=${1:-build-arch}
failed=0
fail() {
    echo "check-architecture: $*" >&2
    failed=1
}

# What each library may link directly: the targets below it and the Qt
# modules it needs. The config, daemon and host targets link Qt Core only.
rules='
ntphost             Qt5::Core
ntpdaemon           ntphost Qt5::Core
ntpremote           ntphost Qt5::Core Qt5::Network
ntpconfig           ntpdaemon ntphost Qt5::Core
ntppages            ntpconfig ntpdaemon ntphost wispuinet Qt5::Widgets
ntphooks            Qt5::Widgets
ntpstatus           ntphooks ntpconfig ntpdaemon ntphost Qt5::Widgets Qt5::Charts Qt5::Concurrent
ntpreview           ntphooks ntpservice ntppages ntpconfig ntpdaemon ntphost Qt5::Widgets Qt5::Concurrent
ntpservice          ntpconfig ntpdaemon ntphost Qt5::Widgets
ntpapp              ntpstatus ntpreview ntpservice ntphooks ntppages ntpconfig ntpdaemon ntphost ntpremote qtsingleapplication wispintegration wispuinet Qt5::Widgets Qt5::Network
qtsingleapplication Qt5::Widgets Qt5::Network
wispintegration     Qt5::Widgets
wispuinet           Qt5::Widgets Qt5::Network
testfiles           ntpdaemon ntphost Qt5::Test
testsupport         testfiles Qt5::Widgets
hostcontract        ntphost Qt5::Test
sshtestserver       ntpremote Qt5::Test crypt
'

graph="$scratch/graph/targets.dot"
rm -rf "$scratch/graph"
mkdir -p "$scratch"
if ! cmake -S . -B "$scratch" -DNTPSM_BUILD_TESTS=ON --graphviz="$graph" >"$scratch/configure.log" 2>&1; then
    cat "$scratch/configure.log" >&2
    fail "cmake could not configure the tree"
    exit 1
fi

# Every static library of the tree and its direct links, from the graph's
# "// FROM -> TO" comments and node shapes.
libraries=$(sed -n 's/^ *"node[0-9]*" \[ label = "\([^"]*\)", shape = octagon \].*/\1/p' "$graph" | sort -u)
edges=$(sed -n 's|.*// \(.*\) -> \(.*\)$|\1 \2|p' "$graph" | sort -u)
for library in $libraries; do
    allowed=$(printf '%s\n' "$rules" | awk -v t="$library" '$1 == t { $1 = ""; print }')
    if ! printf '%s\n' "$rules" | awk -v t="$library" '$1 == t { found = 1 } END { exit !found }'; then
        fail "the library $library has no rule in scripts/check-architecture.sh"
        continue
    fi
    for linked in $(printf '%s\n' "$edges" | awk -v t="$library" '$1 == t { print $2 }'); do
        case " $allowed " in
        *" $linked "*) ;;
        # Qt's code generators (the resource compiler) run at build time; nothing is linked.
        *) [ "$linked" = Qt5::rcc ] || fail "$library links $linked, which it may not (allowed:$allowed)" ;;
        esac
    done
done

# The window's header belongs to the window: start-up creates it, features
# get their hooks instead.
program_dirs="app config daemon host pages qtsingleapplication wispintegration wispuinet"
while IFS= read -r hit; do
    file=${hit%%:*}
    case "$file" in
    app/fntp.cpp | app/fntp.h | app/startup.cpp | app/main.cpp) ;;
    *) fail "$hit: only the window and start-up include app/fntp.h" ;;
    esac
done < <(git grep -n '#include "app/fntp.h"' -- $program_dirs)

# Looking up the window's form objects by name: only the window itself.
names=$(grep -oE '<(widget|action|layout)( class="[^"]*")? name="[^"]*"' app/fmain.ui |
    sed 's/.*name="\([^"]*\)"/\1/' | sort -u)
pattern=$(printf '%s\n' "$names" | paste -sd '|')
while IFS= read -r hit; do
    fail "$hit: looks up the window's form object by name; take it from WindowHooks"
done < <(git grep -nE "findChild(ren)?<[^>]*>\([^)]*\"($pattern)\"" -- $program_dirs ':!app/fntp.cpp')

if [ "$failed" -ne 0 ]; then
    echo "check-architecture: FAILED" >&2
    exit 1
fi
echo "check-architecture: $(printf '%s\n' "$libraries" | wc -w) libraries link as allowed; the window's header and form are its own"
