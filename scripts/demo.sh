#!/bin/sh
# Builds Mirabex and opens it on the demo tree (build/demo/demo/arborescence), whose settings
# files lie next to the executable in build/demo/bin. A demo that was already switched is kept;
# run with --reset to bring the sample tree back as it was, in production.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
sh scripts/install-dependencies.sh $BUILD_PACKAGES

build=build/demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIRABEX_BUILD_TESTS=OFF -DMIRABEX_BUILD_BENCH=OFF
cmake --build "$build" --parallel
if [ "${1:-}" = "--reset" ]; then
    cmake --build "$build" --target demo-reset
fi

echo "Demo tree: $PWD/$build/demo/arborescence"
echo "Settings:  $PWD/$build/bin/config.ini and values.ini"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No graphical display: Mirabex starts under Xvfb, where nobody will see it." >&2
    sh scripts/install-dependencies.sh xvfb xauth
    exec xvfb-run -a "$build/bin/Mirabex"
fi
exec "$build/bin/Mirabex"
