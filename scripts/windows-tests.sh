#!/bin/sh
# Cross-builds the test suite for Windows and runs it under Wine, on the offscreen platform, in a
# Wine prefix of its own (build/windows-test/wine) and an Xvfb display.
# Usage: windows-tests.sh QT_PREFIX
set -eu
cd "$(dirname "$0")/.."
MIRABEX_QT_WINDOWS=$(cd "$1" && pwd)
export MIRABEX_QT_WINDOWS
build=build/windows-test
# A build made against another Qt is started again.
if [ -f "$build/CMakeCache.txt" ] \
        && ! grep -qF "=$MIRABEX_QT_WINDOWS/lib/cmake/Qt6/qt.toolchain.cmake" "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMIRABEX_WARNINGS_AS_ERRORS=ON \
      -DCMAKE_TOOLCHAIN_FILE="$MIRABEX_QT_WINDOWS/lib/cmake/Qt6/qt.toolchain.cmake" \
      -DMIRABEX_BUILD_BENCH=OFF -DCMAKE_CROSSCOMPILING_EMULATOR="sh;$PWD/scripts/wine-run.sh"
cmake --build "$build" --parallel

WINEPREFIX="$PWD/$build/wine"
export WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    WINEDEBUG=-all wineboot --init >/dev/null 2>&1
    wineserver -w
fi
# The share that wine-run.sh gives the tests (\\serveur\partage), empty at the start of each run.
rm -rf "$WINEPREFIX/partage"
mkdir "$WINEPREFIX/partage"
# The tests that show windows set the platform themselves; wine-run.sh puts it on the command
# line, where the tests over QtCore alone would refuse it.
unset QT_QPA_PLATFORM
status=0
(cd "$build" && xvfb-run -a ctest --output-on-failure --timeout 900) || status=$?
wineserver -k 2>/dev/null || true
exit $status
