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
# A share for the tests that name a tree on one, \\serveur\partage: Wine reaches \\server\share
# through dosdevices/unc/server/share, here the folder "partage" of the Wine prefix, which
# windows-tests.sh empties before each run of the suite. Only in a prefix already made: Wine makes
# its drive links only in a dosdevices folder that it makes itself.
if [ -d "$WINEPREFIX/dosdevices" ]; then
    mkdir -p "$WINEPREFIX/partage" "$WINEPREFIX/dosdevices/unc/serveur"
    [ -L "$WINEPREFIX/dosdevices/unc/serveur/partage" ] \
        || ln -s "$WINEPREFIX/partage" "$WINEPREFIX/dosdevices/unc/serveur/partage"
    MIRABEX_TEST_SHARE=${MIRABEX_TEST_SHARE:-'\\serveur\partage'}
    export MIRABEX_TEST_SHARE
fi
# Wine hands no QT_* variable to the Windows process: the platform goes on the command line.
program=$1
shift
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
    exec wine "$program" -platform "$QT_QPA_PLATFORM" "$@"
fi
exec wine "$program" "$@"
