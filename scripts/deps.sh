#!/bin/sh
# Installs the Debian packages needed to build the program ("deps.sh") or to
# build and test it ("deps.sh test"); a second run finds them installed and
# does nothing. Only the tests need a server of their own (openssh-server,
# whose service is kept from starting), so building to run on a desktop
# installs none.
set -eu
packages="cmake g++ make qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libdtl-dev libqt5charts5-dev openssh-client x11-xserver-utils"
if [ "${1:-}" = test ]; then
    packages="$packages fontconfig fonts-dejavu-core xauth xvfb oxygen-icon-theme libbenchmark-dev strace iproute2 patch openssh-server sudo"
fi
[ "${NTPSM_EXTRA_PACKAGES:-}" ] && packages="$packages $NTPSM_EXTRA_PACKAGES"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
as_root=""
[ "$(id -u)" -eq 0 ] || as_root="sudo"
# The SSH tests start their own sshd; the package's service must never start.
case "$missing" in *openssh-server*)
    grep -qx 'exit 101' /usr/sbin/policy-rc.d 2>/dev/null ||
        printf '#!/bin/sh\n# No service may be started by package installs.\nexit 101\n' |
        $as_root tee /usr/sbin/policy-rc.d >/dev/null
    $as_root chmod 755 /usr/sbin/policy-rc.d ;;
esac
$as_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -qq --no-install-recommends $missing
