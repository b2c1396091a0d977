#!/bin/sh
# Builds the screenshot renderer and writes two PNGs per page of the main
# window into docs/screenshots/: NAME-first-run.png at the program's
# first-run size and NAME.png larger. They show the program as on a GNOME
# session: rendered under Xvfb with Qt's GNOME integration
# (XDG_CURRENT_DESKTOP=GNOME: the Adwaita icon theme, the Fusion style),
# where the program falls back on Breeze (or Oxygen) for the icon names
# Adwaita lacks.
# Usage: scripts/screenshots.sh [build-dir]   (default: build-desktop)
set -eu
cd "$(dirname "$0")/.."
build_dir="${1:-build-desktop}"
out_dir=docs/screenshots

# Xvfb, a font to draw text with, GNOME's icon theme, and the fallback the
# package recommends first with Qt's SVG plugins (which Qt recommends too).
missing=""
for p in xvfb xauth fontconfig fonts-dejavu-core adwaita-icon-theme breeze-icon-theme libqt5svg5; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    as_root=""
    [ "$(id -u)" -eq 0 ] || as_root="sudo"
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends $missing >/dev/null
fi

cmake -S . -B "$build_dir" -DNTPSM_BUILD_TOOLS=ON >/dev/null
cmake --build "$build_dir" -j2 --target ntpsm-screenshots >/dev/null

mkdir -p "$out_dir"
rm -f "$out_dir"/*.png
log=$(mktemp)
trap 'rm -f "$log"' EXIT
env -u QT_QPA_PLATFORM -u QT_QPA_PLATFORMTHEME -u QT_STYLE_OVERRIDE XDG_CURRENT_DESKTOP=GNOME \
    xvfb-run -a -s "-screen 0 2560x1600x24" \
    "$build_dir/tools/screenshots/ntpsm-screenshots" "$out_dir" >"$log"
tail -n 1 "$log"
echo "screenshots: $(ls "$out_dir"/*.png | wc -l) written to $out_dir"
