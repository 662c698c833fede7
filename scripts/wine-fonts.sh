#!/bin/sh
# Gives the Wine prefix (WINEPREFIX) a sans-serif font for the fonts Windows programs ask for,
# so that a window looks there as on Windows rather than in a serif fallback.
set -eu
for font in "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Tahoma" "MS Sans Serif" \
        "Microsoft Sans Serif" "Arial"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "DejaVu Sans" /f \
        >/dev/null 2>&1
done
wineserver -w
