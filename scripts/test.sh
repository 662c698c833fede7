#!/bin/sh
# Checks the sources' formatting, builds Mirabex with its tests (warnings as errors) and runs the
# whole test suite, runs it again built with the address and undefined-behaviour sanitizers, then
# runs each fuzz target for a bounded time (MIRABEX_FUZZ_SECONDS, 30 s by default).
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
sh scripts/install-dependencies.sh $BUILD_PACKAGES $TEST_PACKAGES

export QT_QPA_PLATFORM=offscreen

# The sources follow Qt's style (.clang-format).
sh scripts/check-format.sh

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

# The fuzz targets, built with clang and libFuzzer (and the same sanitizers), each run for a
# bounded time from its committed seeds: a crash, a broken property or a leak fails the run.
cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMIRABEX_WARNINGS_AS_ERRORS=ON -DMIRABEX_BUILD_FUZZERS=ON -DMIRABEX_BUILD_TESTS=OFF \
      -DMIRABEX_BUILD_BENCH=OFF -DMIRABEX_FUZZ_SECONDS="${MIRABEX_FUZZ_SECONDS:-30}"
cmake --build build/fuzz --target mirabex_fuzzers --parallel
(cd build/fuzz && ctest --output-on-failure --parallel 2 --label-regex fuzz)

# When Qt 6.8.2 for Windows is at hand (MIRABEX_QT_WINDOWS, ../shared/windows or the cache), the
# suite cross-built for Windows runs on it under Wine, and the Windows package is made and checked
# there: the suite passes on Debian's Qt 6.4.2 above and on the Qt that the package carries.
status=0
qt_windows=$(sh scripts/windows-qt.sh) || status=$?
if [ $status -eq 0 ]; then
    # shellcheck disable=SC2086
    sh scripts/install-dependencies.sh $WINDOWS_PACKAGES
    sh scripts/windows-tests.sh "$qt_windows"
    sh scripts/windows-package.sh build/windows-test "$qt_windows"
    sh tests/packaging/check-windows-package.sh build/windows-test
elif [ $status -eq 3 ]; then
    echo "Qt 6.8.2 for Windows is not at hand (MIRABEX_QT_WINDOWS, ../shared/windows/qt-6.8.2-*.tar.xz"
    echo "or the cache): the suite was not run under Wine. 'sh scripts/windows.sh' builds it once."
else
    echo "Qt for Windows could not be made ready (status $status): see above" >&2
    exit 1
fi
