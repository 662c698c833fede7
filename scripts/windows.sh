#!/bin/sh
# Builds the Windows package of Mirabex on Debian 12: cross-builds Mirabex.exe with MinGW-w64
# against Qt for Windows (see windows-qt.sh: MIRABEX_QT_WINDOWS, the shared copy, or built once
# into the cache), then makes the portable folder, its zip and the MSI in build/windows, and
# checks them under Wine.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
sh scripts/install-dependencies.sh $BUILD_PACKAGES $WINDOWS_PACKAGES

qt=$(sh scripts/windows-qt.sh --build)
build=build/windows
# A build made against another Qt is started again.
if [ -f "$build/CMakeCache.txt" ] \
        && ! grep -qF "=$qt/lib/cmake/Qt6/qt.toolchain.cmake" "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
      -DMIRABEX_BUILD_TESTS=OFF -DMIRABEX_BUILD_BENCH=OFF
cmake --build "$build" --parallel
sh scripts/windows-package.sh "$build" "$qt"
sh tests/packaging/check-windows-package.sh "$build"
