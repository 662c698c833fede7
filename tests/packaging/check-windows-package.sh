#!/bin/sh
# Checks the Windows package under Wine, in a Wine prefix of its own and an Xvfb display:
#  - the zip, unpacked, starts, and one click on « Échanger les valeurs » switches a small tree,
#    which gets CRLF line ends;
#  - the MSI lists its tables, installs for the user, leaves a runnable program and a Start-menu
#    entry, keeps edited settings through an upgrade and an uninstall, and removes the program.
# Usage: check-windows-package.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
name=Mirabex-1.0.0-win64
work=$(mktemp -d "${TMPDIR:-/tmp}/mirabex-windows.XXXXXX")
cleanup() {
    command -v wine_session_end >/dev/null && wine_session_end
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $1" >&2; exit 1; }
# Where a check that fails leaves the picture of the screen that it saw.
seen="$build/package-check"
. "$root/scripts/wine-session.sh"

# Waits until the file holds the bytes (printf format), a minute at most.
wait_for() {
    for _ in $(seq 60); do
        [ "$(od -An -c "$1")" = "$(printf "$2" | od -An -c)" ] && return 0
        sleep 1
    done
    echo "$1 holds:" >&2
    od -c "$1" >&2
    return 1
}

# A small tree in production, and settings naming it.
prepare() { # folder of the program
    mkdir -p "$WINEPREFIX/drive_c/arbre"
    printf 'hote=prod-host\n' > "$WINEPREFIX/drive_c/arbre/app.ini"
    printf 'MainDir=C:\\arbre\r\nFilesFilter=*.ini\r\nEnvironnement=prod\r\n' > "$1/config.ini"
    printf 'prodVal=prod-host\r\ndevVal=dev-host\r\n' > "$1/values.ini"
}

# The zip.
(cd "$work" && unzip -q "$build/$name.zip")
program="$work/$name"
for file in Mirabex.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
        styles/qmodernwindowsstyle.dll imageformats/qico.dll libstdc++-6.dll libgcc_s_seh-1.dll \
        libwinpthread-1.dll config.ini values.ini LISEZMOI.txt; do
    [ -f "$program/$file" ] || fail "the zip has no $file"
done
grep -q "$(printf 'MainDir=C:\\\\Chemin\\\\vers\\\\arborescence\r')" "$program/config.ini" \
    || fail "config.ini is not the template with CRLF line ends"
prepare "$program"
(cd "$program" && wine Mirabex.exe >/dev/null 2>&1 &)
id=$(wine_window) || fail "the program from the zip shows no window: $(wine_seen "" "$seen/zip.png")"
wine_click_switch "$id" || fail "no click: $(wine_seen "$id" "$seen/zip.png")"
wait_for "$WINEPREFIX/drive_c/arbre/app.ini" 'hote=dev-host\r\n' \
    || fail "the click did not switch the tree: $(wine_seen "$id" "$seen/zip.png")"
wait_for "$program/config.ini" 'MainDir=C:\\arbre\r\nFilesFilter=*.ini\r\nEnvironnement=dev\r\n' \
    || fail "config.ini does not name the new environment"
wineserver -k
echo "zip: started, one click switched the tree (CRLF)"

# Each DLL that the program and its plugins import is in the folder or is one of Windows' own: a
# plugin that cannot load (the style) would otherwise go unnoticed.
system32="$WINEPREFIX/drive_c/windows/system32"
(cd "$program" && find . -name '*.exe' -o -name '*.dll') | while read -r file; do
    x86_64-w64-mingw32-objdump -p "$program/$file" | sed -n 's/^\tDLL Name: //p' | while read -r dll; do
        # api-ms-win-* and ext-ms-* are API sets, which the system's loader resolves.
        case "$dll" in [Aa][Pp][Ii]-[Mm][Ss]-* | [Ee][Xx][Tt]-[Mm][Ss]-*) continue ;; esac
        [ -f "$program/$dll" ] || ls "$system32" | grep -qixF "$dll" \
            || fail "$file imports $dll, which is neither in the package nor Windows' own"
    done
done
echo "zip: every DLL that its files import is there"

# The MSI.
msi="$build/$name.msi"
for table in File Component Directory Shortcut Upgrade Icon; do
    msiinfo tables "$msi" | grep -qx "$table" || fail "the MSI has no $table table"
done
installed="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Mirabex"
menu="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
wine msiexec /i "$(winepath -w "$msi")" /qn || fail "the MSI does not install"
wineserver -w
[ -f "$installed/Mirabex.exe" ] || fail "Mirabex.exe is not installed in $installed"
[ -f "$menu/Mirabex.lnk" ] || fail "no Start-menu entry"
prepare "$installed"
(cd "$installed" && wine Mirabex.exe >/dev/null 2>&1 &)
id=$(wine_window) || fail "the installed program shows no window: $(wine_seen "" "$seen/msi.png")"
wine_click_switch "$id" || fail "no click: $(wine_seen "$id" "$seen/msi.png")"
wait_for "$WINEPREFIX/drive_c/arbre/app.ini" 'hote=dev-host\r\n' \
    || fail "the installed program did not switch the tree: $(wine_seen "$id" "$seen/msi.png")"
wineserver -k

# An upgrade keeps the edited settings, then an uninstall removes the program and keeps them.
upgrade="$build/Mirabex-1.0.1-win64.msi"
sh "$root/scripts/windows-package.sh" --msi 1.0.1 "$build" >/dev/null
edited=$(od -An -c "$installed/config.ini")
wine msiexec /i "$(winepath -w "$upgrade")" /qn || fail "the upgrade does not install"
wineserver -w
[ "$(od -An -c "$installed/config.ini")" = "$edited" ] || fail "the upgrade overwrote config.ini"
[ -f "$installed/Mirabex.exe" ] || fail "the upgrade removed Mirabex.exe"
wine msiexec /x "$(winepath -w "$upgrade")" /qn || fail "the MSI does not uninstall"
wineserver -w
rm -f "$upgrade"
[ ! -e "$installed/Mirabex.exe" ] || fail "the uninstall left Mirabex.exe"
[ ! -e "$menu/Mirabex.lnk" ] || fail "the uninstall left the Start-menu entry"
[ "$(od -An -c "$installed/config.ini")" = "$edited" ] || fail "the uninstall removed config.ini"
echo "msi: tables listed; installed for the user with its Start-menu entry and runnable;"
echo "     an upgrade and an uninstall keep config.ini; the uninstall removes the program"
echo "PASS"
