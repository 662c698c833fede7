# Sourced by the scripts that run Mirabex.exe under Wine: a Wine prefix of its own in
# "$work/wine", an Xvfb display for it and a sans-serif font (see wine-fonts.sh). Needs $work and
# $root (the repository); wine_session_end stops the display and Wine.
WINEPREFIX="$work/wine"
WINEDEBUG=-all
export WINEPREFIX WINEDEBUG
for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || break
done
Xvfb ":$n" -screen 0 1280x900x24 >/dev/null 2>&1 &
wine_display=$!
DISPLAY=":$n"
export DISPLAY
wineboot --init >/dev/null 2>&1
wineserver -w
sh "$root/scripts/wine-fonts.sh"

wine_session_end() {
    wineserver -k 2>/dev/null || true
    kill "$wine_display" 2>/dev/null || true
}

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
