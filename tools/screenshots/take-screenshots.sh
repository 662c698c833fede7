#!/bin/sh
# Regenerates the pictures of the user guide (docs/images/*.png) from the real program, on the
# demo tree, under a virtual X server (Xvfb) so that the xcb platform and the system fonts are used.
#
#   sh tools/screenshots/take-screenshots.sh [build folder]     (default: build/screenshots)
#
# The program runs from /tmp/Mirabex (MIRABEX_SCREENSHOTS_RUN_DIR to change it): its settings
# files and the demo tree lie there, so that the paths in the pictures stay short.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=${1:-$repo/build/screenshots}

missing=""
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v c++ >/dev/null 2>&1 || missing="$missing g++"
command -v xvfb-run >/dev/null 2>&1 || missing="$missing xvfb"
command -v xauth >/dev/null 2>&1 || missing="$missing xauth"
[ -e /usr/lib/x86_64-linux-gnu/cmake/Qt6Widgets ] || [ -n "$(find /usr/lib -maxdepth 3 -name Qt6Widgets -type d 2>/dev/null | head -n 1)" ] \
    || missing="$missing qt6-base-dev"
[ -n "$(fc-list 2>/dev/null | head -n 1)" ] || missing="$missing fonts-dejavu-core"
if [ -n "$missing" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing:$missing"
    $sudo apt-get update
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $missing
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel --target screenshots

run=${MIRABEX_SCREENSHOTS_RUN_DIR:-/tmp/Mirabex}
mkdir -p "$run" "$repo/docs/images"
cp -f "$build/screenshots" "$run/screenshots"
QT_QPA_PLATFORM=xcb LANG=C.UTF-8 xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$run/screenshots" "$repo/demo" "$repo/docs/images"
