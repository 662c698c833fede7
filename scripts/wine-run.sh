#!/bin/sh
# Runs a Windows program under Wine with Qt for Windows and the MinGW-w64 runtime on its path:
# the emulator through which CTest runs the cross-built tests.
# Needs MIRABEX_QT_WINDOWS (the Qt prefix) and WINEPREFIX in the environment.
set -eu
qt=$MIRABEX_QT_WINDOWS
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
windows_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }
WINEPATH="$(windows_path "$qt/bin");$(windows_path "$gcc_dir");$(windows_path /usr/x86_64-w64-mingw32/lib)"
WINEDEBUG=${WINEDEBUG:--all}
export WINEPATH WINEDEBUG
# Wine hands no QT_* variable to the Windows process: the platform goes on the command line.
program=$1
shift
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
    exec wine "$program" -platform "$QT_QPA_PLATFORM" "$@"
fi
exec wine "$program" "$@"
