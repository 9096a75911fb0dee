#!/usr/bin/env bash
# Takes the README's screenshot: the program on the sample outline, in a real
# X server (Xvfb), written to data/screenshot.png; with a scale factor (2),
# as a screen of that density shows it, to data/screenshot@2x.png. Needs a
# built tree (build/) and the packages xvfb and imagemagick.
#
#   tools/screenshot.sh [SCALE]
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'kill "${xvfb_pid:-}" "${app_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp build/bin/branchkeeper "$work/"
cp -r build/bin/pic1 build/bin/pic2 "$work/"
build/bin/branchkeeper-store sample "$work/dbPro.mdb"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1800x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
scale=${1:-1}
out=data/screenshot.png
[[ $scale != 1 ]] && out=data/screenshot@${scale}x.png
DISPLAY=$display QT_SCALE_FACTOR=$scale "$work/branchkeeper" &
app_pid=$!
sleep 2
size=$((438 * scale))
DISPLAY=$display import -window root -crop ${size}x${size}+0+0 +repage "$out"
echo "wrote $out"
