#!/usr/bin/env bash
# Takes the README's screenshot: the program on the sample outline, in a real
# X server (Xvfb), written to data/screenshot.png. Needs a built tree (build/)
# and the packages xvfb and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'kill "${xvfb_pid:-}" "${app_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
cp build/bin/branchkeeper "$work/"
cp -r build/bin/pic1 build/bin/pic2 "$work/"
build/bin/branchkeeper-store sample "$work/dbPro.mdb"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
DISPLAY=$display "$work/branchkeeper" &
app_pid=$!
sleep 2
DISPLAY=$display import -window root -crop 438x438+0+0 +repage data/screenshot.png
echo "wrote data/screenshot.png"
