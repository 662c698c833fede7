#!/bin/sh
# Builds Mirabex with its tests (warnings as errors) and runs the whole test suite, then runs it
# again built with the address and undefined-behaviour sanitizers.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
sh scripts/install-dependencies.sh $BUILD_PACKAGES $TEST_PACKAGES

export QT_QPA_PLATFORM=offscreen

# The suite as built for use.
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DMIRABEX_WARNINGS_AS_ERRORS=ON
cmake --build build/test --parallel
(cd build/test && ctest --output-on-failure --parallel 2 --timeout 900)

# The same suite under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer: any
# finding fails the run.
cmake -S . -B build/test-sanitize -DCMAKE_BUILD_TYPE=Debug -DMIRABEX_WARNINGS_AS_ERRORS=ON \
      -DMIRABEX_SANITIZE=ON -DMIRABEX_BUILD_BENCH=OFF
cmake --build build/test-sanitize --parallel
(cd build/test-sanitize &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure --parallel 2 --timeout 900)
