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
WINEPREFIX="$work/wine"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || break
done
Xvfb ":$n" -screen 0 1280x900x24 >/dev/null 2>&1 &
server=$!
DISPLAY=":$n"
export DISPLAY
trap 'wineserver -k 2>/dev/null || true; kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
wineboot --init >/dev/null 2>&1
wineserver -w
sh "$repo/scripts/wine-fonts.sh"

(cd "$work" && unzip -q "$build/$name.zip")
program="$work/$name"
mkdir -p "$WINEPREFIX/drive_c/Mirabex"
cp -r "$repo/demo/arborescence" "$WINEPREFIX/drive_c/Mirabex/arborescence"
sed -e 's|@MIRABEX_DEMO_TREE@|C:\\Mirabex\\arborescence|' -e 's/$/\r/' "$repo/demo/config.ini.in" \
    > "$program/config.ini"
sed -e 's/$/\r/' "$repo/demo/values.ini" > "$program/values.ini"
(cd "$program" && wine Mirabex.exe >/dev/null 2>&1 &)
for _ in $(seq 60); do
    id=$(xdotool search --name '^Mirabex$' 2>/dev/null | head -n 1) && [ -n "$id" ] && break
    sleep 1
done
[ -n "${id:-}" ] || { echo "Mirabex.exe shows no window" >&2; exit 1; }
sleep 2
eval "$(xdotool getwindowgeometry --shell "$id")"
# « Échanger les valeurs », then the « Journal » tab.
xdotool mousemove --sync $((X + WIDTH - 75)) $((Y + HEIGHT - 36)) click 1
sleep 4
xdotool mousemove --sync $((X + 188)) $((Y + 36)) click 1
sleep 2
xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+$X+$Y" +repage \
    "$repo/docs/images/fenetre-windows.png"
echo "docs/images/fenetre-windows.png"
