#!/bin/sh
# Builds Mirabex with its tests (warnings as errors) and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
sh scripts/install-dependencies.sh $BUILD_PACKAGES $TEST_PACKAGES

build=build/test
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DMIRABEX_WARNINGS_AS_ERRORS=ON
cmake --build "$build" --parallel
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2 --timeout 900
