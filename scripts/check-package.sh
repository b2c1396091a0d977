#!/bin/bash
# Builds the Debian package in a Release build directory and checks it: the
# control fields (the daemon it recommends), the files it ships, its licence,
# lintian (any error-level tag fails), the desktop entry and the AppStream
# metainfo. With CHECK_PACKAGE_INSTALL=1
# it also installs the package with apt-get and removes it again (only on a
# throw-away machine: CI sets it).
# Usage: scripts/check-package.sh [build-dir]   (default: build-package)
set -uo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-package}"
package=ntp-service-manager
passed=0
failed=0

pass() { passed=$((passed + 1)); echo "PASS: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
summary() {
    echo "package check: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
# Waits for another apt or dpkg run to finish instead of failing at once.
apt() { $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"; }

install_tools() {
    local missing="" p
    for p in dpkg-dev lintian fakeroot appstream desktop-file-utils; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    apt update -qq && apt install -y -qq --no-install-recommends $missing >/dev/null
}

build_package() {
    rm -f "$build_dir"/${package}_*.deb
    cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
        -DNTPSM_BUILD_TESTS=OFF -DNTPSM_BUILD_BENCH=OFF -DNTPSM_BUILD_TOOLS=OFF >/dev/null &&
        cmake --build "$build_dir" -j"$(nproc)" >"$build_dir/build.log" 2>&1 &&
        (cd "$build_dir" && cpack -G DEB >cpack.log 2>&1)
}

# check_field FIELD PATTERN: the control field matches the extended regex.
check_field() {
    local value
    value=$(dpkg-deb -f "$deb" "$1")
    if grep -Eq "$2" <<<"$value"; then
        pass "$1 matches '$2'"
    else
        fail "$1 is '$value', expected to match '$2'"
    fi
}

# check_no_field FIELD: the control file has no such field.
check_no_field() {
    local value
    value=$(dpkg-deb -f "$deb" "$1")
    if [ -z "$value" ]; then
        pass "no $1 field"
    else
        fail "$1 is '$value', expected none"
    fi
}

# check_file PATH: the package ships this file.
check_file() {
    if grep -Eq "^\./?${1#/}\$" <<<"$contents"; then
        pass "ships $1"
    else
        fail "does not ship $1"
    fi
}

check_lintian() {
    local report errors
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1)
    [ -n "$report" ] && echo "$report"
    errors=$(grep -c '^E:' <<<"$report")
    if [ "$errors" -eq 0 ]; then
        pass "lintian reports no errors"
    else
        fail "lintian reports $errors error(s)"
    fi
}

# The licence as shipped: the copyright file in Debian's machine-readable
# format puts every file under GPL-2+ and gives the grant; the metainfo names
# the same licence; the launcher is an executable shell script.
check_licence_and_launcher() {
    local tree=$1 copyright=$1/usr/share/doc/$package/copyright
    if head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' &&
        grep -Pzq '(^|\n)Files: \*\n(.+\n)*License: GPL-2\+\n' "$copyright" &&
        grep -Pzq '\nLicense: GPL-2\+\n(.+\n)* On Debian systems, the complete text of the GNU General Public\n License version 2 can be found in "/usr/share/common-licenses/GPL-2"' "$copyright"
    then
        pass "copyright file puts every file under GPL-2+"
    else
        fail "copyright file does not name GPL-2+ for every file in the machine-readable format"
    fi
    if grep -q '<project_license>GPL-2.0-or-later</project_license>' "$tree"/usr/share/metainfo/*.metainfo.xml; then
        pass "metainfo names GPL-2.0-or-later"
    else
        fail "metainfo does not name GPL-2.0-or-later"
    fi
    local launcher=$tree/usr/sbin/$package-launcher
    if [ -x "$launcher" ] && sh -n "$launcher" &&
        grep -qx "program=/usr/sbin/$package" "$launcher"; then
        pass "launcher is executable and starts /usr/sbin/$package"
    else
        fail "launcher is missing, not executable, not shell or starts another program"
    fi
}

# Validates the shipped desktop entry and metainfo as extracted from the .deb.
check_metadata() {
    local tree
    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    check_licence_and_launcher "$tree"
    if desktop-file-validate "$tree/usr/share/applications/$package.desktop"; then
        pass "desktop-file-validate accepts the menu entry"
    else
        fail "desktop-file-validate rejects the menu entry"
    fi
    if appstreamcli validate --no-net --pedantic "$tree"/usr/share/metainfo/*.metainfo.xml; then
        pass "appstreamcli accepts the metainfo"
    else
        fail "appstreamcli rejects the metainfo"
    fi
    rm -rf "$tree"
}

check_install() {
    # Without the recommended daemon: installing it could start its service.
    if apt install -y -qq --no-install-recommends "./$deb" >/dev/null &&
        [ -x /usr/sbin/$package ] && dpkg-query -W -f='${Status}' $package | grep -q "ok installed"
    then
        pass "apt-get installs the package"
    else
        fail "apt-get cannot install the package"
    fi
    if apt remove -y -qq $package >/dev/null &&
        [ ! -e /usr/sbin/$package ]; then
        pass "apt-get removes the package"
    else
        fail "apt-get cannot remove the package"
    fi
}

if ! install_tools; then
    fail "cannot install dpkg-dev, lintian, fakeroot, appstream, desktop-file-utils"
    summary
fi
mkdir -p "$build_dir"
if ! build_package; then
    fail "build or cpack failed (see $build_dir/build.log and $build_dir/cpack.log)"
    tail -n 30 "$build_dir/build.log" "$build_dir/cpack.log" 2>/dev/null
    summary
fi
deb=$(ls "$build_dir"/${package}_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    fail "cpack wrote no ${package}_*.deb into $build_dir"
    summary
fi
pass "built $deb"

check_field Package "^${package}\$"
check_field Version '^1\.2\.12$'
check_field Section '^admin$'
check_field Maintainer '^[^<]+ <[^@>]+@[^>]+>$'
check_field Depends 'libqt5widgets5'
check_field Depends 'libqt5network5'
check_field Depends 'libc6'
check_field Depends '(^|, )pkexec \| policykit-1(,|$)'
check_field Recommends '(^|, )ntpsec \| ntp(,|$)'
check_field Recommends '(^|, )x11-xserver-utils(,|$)'
check_field Recommends '(^|, )breeze-icon-theme \| oxygen-icon-theme(,|$)'
check_field Recommends '(^|, )libqt5svg5(,|$)'
check_no_field Suggests

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
check_file /usr/sbin/$package
check_file /usr/sbin/$package-launcher
check_file /usr/share/man/man8/$package-launcher.8.gz
check_file /usr/share/applications/$package.desktop
check_file /usr/share/metainfo/org.ntpservicemanager.NtpServiceManager.metainfo.xml
check_file /usr/share/man/man8/$package.8.gz
check_file /usr/share/polkit-1/actions/org.ntpservicemanager.run.policy
check_file /usr/share/doc/$package/copyright

check_lintian
check_metadata
if [ "${CHECK_PACKAGE_INSTALL:-0}" = 1 ]; then
    check_install
else
    echo "SKIP: install test (set CHECK_PACKAGE_INSTALL=1 on a throw-away machine)"
fi
summary
