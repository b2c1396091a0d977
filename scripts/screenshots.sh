#!/bin/sh
# Builds the screenshot renderer and writes one PNG per page of the main
# window into docs/screenshots/, rendered headless (offscreen platform).
# Usage: scripts/screenshots.sh [build-dir]   (default: build-desktop)
set -eu
cd "$(dirname "$0")/.."
build_dir="${1:-build-desktop}"
out_dir=docs/screenshots

# The offscreen platform draws text only with a font installed, and the tool
# bars' and tree's icons only with the icon theme their names come from.
missing=""
fc-list 2>/dev/null | grep -q . || missing="fontconfig fonts-dejavu-core"
[ -f /usr/share/icons/oxygen/index.theme ] || missing="$missing oxygen-icon-theme"
if [ -n "$missing" ]; then
    as_root=""
    [ "$(id -u)" -eq 0 ] || as_root="sudo"
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
        --no-install-recommends $missing >/dev/null
fi

cmake -S . -B "$build_dir" -DNTPSM_BUILD_TOOLS=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target ntpsm-screenshots >/dev/null

mkdir -p "$out_dir"
rm -f "$out_dir"/*.png
QT_QPA_PLATFORM=offscreen "$build_dir/tools/screenshots/ntpsm-screenshots" "$out_dir"
echo "screenshots: $(ls "$out_dir"/*.png | wc -l) written to $out_dir"
