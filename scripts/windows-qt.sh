#!/bin/sh
# Prints the prefix of Qt 6.4.2 for 64-bit Windows (MinGW-w64), getting it first if need be:
#  1. the prefix that MIRABEX_QT_WINDOWS names;
#  2. else the cache (MIRABEX_CACHE, ~/.cache/mirabex by default), where a copy is unpacked from
#     ../shared/windows/qt-6.4.2-mingw64.tar.xz when it is there;
#  3. else, with --build, Qt is built into the cache from Debian's qt6-base source package (about
#     25 minutes on two cores); later runs reuse it.
# Without --build and without Qt at hand, prints nothing and ends with status 1.
set -eu
cd "$(dirname "$0")/.."
build=false
[ "${1:-}" = "--build" ] && build=true

if [ -n "${MIRABEX_QT_WINDOWS:-}" ]; then
    if [ ! -f "$MIRABEX_QT_WINDOWS/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
        echo "MIRABEX_QT_WINDOWS=$MIRABEX_QT_WINDOWS holds no Qt for Windows" >&2
        exit 1
    fi
    echo "$MIRABEX_QT_WINDOWS"
    exit 0
fi

cache="${MIRABEX_CACHE:-$HOME/.cache/mirabex}"
prefix="$cache/qt-6.4.2-mingw64"
if [ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
    echo "$prefix"
    exit 0
fi

shared=../shared/windows/qt-6.4.2-mingw64.tar.xz
if [ -f "$shared" ]; then
    mkdir -p "$cache"
    tar -C "$cache" -xJf "$shared"
    echo "$prefix"
    exit 0
fi

if ! $build; then
    exit 1
fi

# Built from Debian's source of the same Qt as the host tools: shared, without OpenGL, network,
# sql, dbus, print support, concurrent or xml; bundled zlib, pcre2, harfbuzz, libpng, freetype and
# libjpeg. Debian's source leaves out the tablet header wintab.h, hence tabletevent off.
echo "Building Qt 6.4.2 for Windows into $prefix (about 25 minutes)" >&2
work="$cache/qt-build"
rm -rf "$work"
mkdir -p "$work"
(
    cd "$work"
    # From the deb-src lines when there are some, else from Debian's archive itself.
    source=qt6-base_6.4.2+dfsg.orig.tar.xz
    if ! apt-get source --download-only qt6-base >&2 2>/dev/null || [ ! -f "$source" ]; then
        curl -fsSL -o "$source" "http://deb.debian.org/debian/pool/main/q/qt6-base/$source"
    fi
    tar xf "$source"
    cat > toolchain.cmake <<'TOOLCHAIN'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN
    cmake -S qtbase-everywhere-src-6.4.2 -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF \
        -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF >&2
    cmake --build build --parallel >&2
    cmake --install build >&2
    cp toolchain.cmake "$prefix/mingw-w64-x86_64.cmake"
    sed -i 's|set(__qt_initially_configured_toolchain_file ".*")|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../../../mingw-w64-x86_64.cmake")|' \
        "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
    find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} \;
)
rm -rf "$work"
echo "$prefix"
