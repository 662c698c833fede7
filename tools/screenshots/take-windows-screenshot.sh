#!/bin/sh
# Takes the picture of Mirabex.exe's real window under Wine (the Windows platform plugin, a
# sans-serif font given to Wine) for the user guide: docs/images/fenetre-windows.png, the demo
# tree switched once, the journal shown.
#
#   sh tools/screenshots/take-windows-screenshot.sh [build folder]     (default: build/windows,
#                                                                       made by scripts/windows.sh)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$repo/build/windows}" && pwd)
name=Mirabex-1.0.0-win64
work=$(mktemp -d "${TMPDIR:-/tmp}/mirabex-screenshot.XXXXXX")
root=$repo
trap 'command -v wine_session_end >/dev/null && wine_session_end; rm -rf "$work"' EXIT
. "$repo/scripts/wine-session.sh"

(cd "$work" && unzip -q "$build/$name.zip")
program="$work/$name"
mkdir -p "$WINEPREFIX/drive_c/Mirabex"
cp -r "$repo/demo/arborescence" "$WINEPREFIX/drive_c/Mirabex/arborescence"
sed -e 's|@MIRABEX_DEMO_TREE@|C:\\Mirabex\\arborescence|' -e 's/$/\r/' "$repo/demo/config.ini.in" \
    > "$program/config.ini"
sed -e 's/$/\r/' "$repo/demo/values.ini" > "$program/values.ini"
(cd "$program" && wine Mirabex.exe >/dev/null 2>&1 &)
id=$(wine_window) || { echo "Mirabex.exe shows no window" >&2; exit 1; }
sleep 2
eval "$(xdotool getwindowgeometry --shell "$id")"
# « Échanger les valeurs », then the « Journal » tab.
wine_click_switch "$id"
sleep 4
xdotool mousemove --sync $((X + 188)) $((Y + 36)) click 1
sleep 2
xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage \
    "$repo/docs/images/fenetre-windows.png"
echo "docs/images/fenetre-windows.png"
