#!/bin/sh
# Prints the prefix of Qt 6.8.2 (LTS) for 64-bit Windows (MinGW-w64), getting it first if need be.
# Cross-building against it needs the Linux host tools of the same version (moc, rcc, uic, ...),
# kept beside it as qt-6.8.2-host-linux, where the prefix looks for them.
#  1. the prefix that MIRABEX_QT_WINDOWS names (its host tools found beside it, or named by
#     QT_HOST_PATH);
#  2. else the cache (MIRABEX_CACHE, ~/.cache/mirabex by default), where both prefixes are unpacked
#     from ../shared/windows/qt-6.8.2-{mingw64,host-linux}.tar.xz when they are there;
#  3. else, with --build, both are built into the cache from Debian's qt6-base 6.8.2 source
#     (about 15 minutes for the host tools and 25 for Qt for Windows on two cores); later runs
#     reuse them.
# Without --build and without Qt at hand, prints nothing and ends with status 3; any other failure
# (a prefix of another Qt, an unpacking or a build that fails) ends with another status.
set -eu
cd "$(dirname "$0")/.."
build=false
[ "${1:-}" = "--build" ] && build=true
version=6.8.2

if [ -n "${MIRABEX_QT_WINDOWS:-}" ]; then
    if [ ! -f "$MIRABEX_QT_WINDOWS/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
        echo "MIRABEX_QT_WINDOWS=$MIRABEX_QT_WINDOWS holds no Qt for Windows" >&2
        exit 1
    fi
    if ! grep -qF "PACKAGE_VERSION \"$version\"" \
            "$MIRABEX_QT_WINDOWS/lib/cmake/Qt6/Qt6ConfigVersionImpl.cmake" 2>/dev/null; then
        echo "MIRABEX_QT_WINDOWS=$MIRABEX_QT_WINDOWS is not Qt $version, the Qt of the package" >&2
        exit 1
    fi
    echo "$MIRABEX_QT_WINDOWS"
    exit 0
fi

cache="${MIRABEX_CACHE:-$HOME/.cache/mirabex}"
prefix="$cache/qt-$version-mingw64"
host="$cache/qt-$version-host-linux"
ready() { [ -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ] && [ -x "$host/libexec/moc" ]; }
if ready; then
    echo "$prefix"
    exit 0
fi

shared=../shared/windows
if [ -f "$shared/qt-$version-mingw64.tar.xz" ] && [ -f "$shared/qt-$version-host-linux.tar.xz" ]; then
    # Unpacked aside, then moved into place: an unpacking cut short is never taken for a prefix.
    unpack="$cache/.unpack.$$"
    rm -rf "$unpack" "$prefix" "$host"
    mkdir -p "$unpack"
    tar -C "$unpack" -xJf "$shared/qt-$version-host-linux.tar.xz"
    tar -C "$unpack" -xJf "$shared/qt-$version-mingw64.tar.xz"
    mv "$unpack/qt-$version-host-linux" "$host"
    mv "$unpack/qt-$version-mingw64" "$prefix"
    rmdir "$unpack"
    echo "$prefix"
    exit 0
fi

if ! $build; then
    exit 3
fi

# Both files are those of Debian 13 (trixie), which its archive serves for the release's life.
fetch() { # pool path, sha256
    file=$(basename "$1")
    curl -fsSL -o "$file" "http://deb.debian.org/debian/pool/main/$1"
    echo "$2  $file" | sha256sum -c - >&2
}

echo "Building Qt $version for Windows into $prefix, with its host tools (about 40 minutes)" >&2
work="$cache/qt-build"
rm -rf "$work" "$prefix" "$host"
mkdir -p "$work"
(
    cd "$work"
    # Debian's own source (the archive serves trixie's qt6-base as it serves bookworm's).
    source=qt6-base_$version+dfsg.orig.tar.xz
    fetch "q/qt6-base/$source" e0dddfea4dabb8ae4ad9224d674bef21cd101a6a5126fe988e3af69b251260b8
    tar xf "$source"
    src=qtbase-everywhere-src-$version

    # The host Qt, for its tools only: no platform plugin, bundled third-party libraries.
    cmake -S "$src" -B host -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$host" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no \
        -DFEATURE_xcb=OFF -DFEATURE_wayland=OFF -DFEATURE_eglfs=OFF -DFEATURE_linuxfb=OFF \
        -DFEATURE_vnc=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_jpeg=OFF -DFEATURE_system_png=OFF -DFEATURE_fontconfig=OFF \
        -DFEATURE_glib=OFF -DFEATURE_icu=OFF -DFEATURE_libudev=OFF -DFEATURE_evdev=OFF \
        -DFEATURE_libinput=OFF -DFEATURE_mtdev=OFF -DFEATURE_tslib=OFF -DFEATURE_xkbcommon=OFF >&2
    cmake --build host --parallel >&2
    cmake --install host >&2

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

    # Debian 12's MinGW-w64 headers for UI Automation are too old for 6.8's screen-reader support:
    # those of MinGW-w64 12 (Debian's mingw-w64-common 12.0.0-5) go first on the include path.
    deb=mingw-w64-common_12.0.0-5_all.deb
    fetch "m/mingw-w64/$deb" 97dce5d0d8aff1cade4786ad4ef5078345477a598829afcac2e7f2fbc5399990
    dpkg-deb -x "$deb" mingw12
    mkdir -p cross/include
    cp mingw12/usr/share/mingw-w64/include/uiautomation*.h cross/include/

    # Qt for Windows: shared, without OpenGL, network, sql, dbus, print support, concurrent or
    # xml; bundled zlib, pcre2, harfbuzz, libpng, freetype and libjpeg. Debian's source leaves out
    # the tablet header wintab.h, hence tabletevent off. Debian 12's MinGW GCC 12 fails with an
    # internal compiler error on 6.8's stack clash protection and Intel CET, which are turned off;
    # the stack protector stays, its runtime linked into each DLL from GCC's static libssp.
    libs='-lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32 -l:libssp.a'
    cmake -S "$src" -B cross -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH="$host" -DQT_HOST_PATH_CMAKE_DIR="$host/lib/cmake" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DINPUT_opengl=no -DFEATURE_opengl=OFF \
        -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
        -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
        -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_stack_clash_protection=OFF -DFEATURE_intelcet=OFF \
        -DCMAKE_C_STANDARD_LIBRARIES="$libs" -DCMAKE_CXX_STANDARD_LIBRARIES="$libs" >&2
    cmake --build cross --parallel >&2
    cmake --install cross >&2

    # The prefix finds its compiler settings and its host tools beside it, and links programs'
    # entry point (built with the stack protector) with libssp.
    cp toolchain.cmake "$prefix/mingw-w64-x86_64.cmake"
    sed -i 's|set(__qt_initially_configured_toolchain_file ".*")|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../../../mingw-w64-x86_64.cmake")|' \
        "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
    sed -i "s|set(__qt_platform_initial_qt_host_path \".*\")|set(__qt_platform_initial_qt_host_path \"\${CMAKE_CURRENT_LIST_DIR}/../../../../qt-$version-host-linux\")|; s|set(__qt_platform_initial_qt_host_path_cmake_dir \".*\")|set(__qt_platform_initial_qt_host_path_cmake_dir \"\${CMAKE_CURRENT_LIST_DIR}/../../../../qt-$version-host-linux/lib/cmake\")|" \
        "$prefix/lib/cmake/Qt6/Qt6Dependencies.cmake"
    sed -i 's|\\$<LINK_ONLY:shell32>"|\\$<LINK_ONLY:shell32>;\\$<LINK_ONLY:-l:libssp.a>"|' \
        "$prefix/lib/cmake/Qt6EntryPointPrivate/Qt6EntryPointPrivateTargets.cmake"
    find "$prefix" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} \;
)
rm -rf "$work"
echo "$prefix"
