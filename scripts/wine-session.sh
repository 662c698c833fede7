# Sourced by the scripts that run Mirabex.exe under Wine: a Wine prefix of its own in
# "$work/wine", an Xvfb display of its own for it and a sans-serif font (see wine-fonts.sh). Needs
# $work and $root (the repository); wine_session_end stops the display and Wine.
WINEPREFIX="$work/wine"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG

wine_session_end() {
    wineserver -k 2>/dev/null || true
    kill "$wine_display" 2>/dev/null || true
}

# Xvfb takes a free display itself and writes its number once it accepts connections: a session
# running beside (another check, a test on Xvfb) never shares it, where two windows named Mirabex
# would be told apart by chance.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
wine_display=$!
n=""
read -r n <"$work/display" || true
[ -n "$n" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$n"
export DISPLAY
wineboot --init >/dev/null 2>&1
wineserver -w
sh "$root/scripts/wine-fonts.sh"

# Waits for Mirabex's window; prints its id.
wine_window() {
    for _ in $(seq 120); do
        id=$(xdotool search --name '^Mirabex$' 2>/dev/null | head -n 1) && [ -n "$id" ] \
            && { echo "$id"; return 0; }
        sleep 1
    done
    return 1
}

# Clicks « Échanger les valeurs », at the bottom right of the window.
wine_click_switch() {
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --sync $((X + WIDTH - 75)) $((Y + HEIGHT - 36)) click 1
}
