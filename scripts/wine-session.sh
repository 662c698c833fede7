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

# Waits until Mirabex's window is shown (mapped, under its title); prints its id. Named, it
# exists a moment before it shows: its size is not yet the one its controls give it, and a click
# there is lost.
wine_window() {
    wine_clicked=""
    for _ in $(seq 1200); do
        id=$(xdotool search --onlyvisible --name '^Mirabex$' 2>/dev/null | head -n 1) \
            && [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

# Clicks « Échanger les valeurs », at the bottom right of the window (id $1), once the pointer is
# over the window; wine_clicked says where, for the message of a check that fails. Fails, without
# a click, when the pointer cannot be brought over the window.
wine_click_switch() {
    for _ in $(seq 50); do
        eval "$(xdotool getwindowgeometry --shell "$1")"
        wine_clicked="($((X + WIDTH - 75)),$((Y + HEIGHT - 36))), in the window at ($X,$Y) of"
        wine_clicked="$wine_clicked ${WIDTH}x$HEIGHT"
        xdotool mousemove --sync $((X + WIDTH - 75)) $((Y + HEIGHT - 36))
        eval "$(xdotool getmouselocation --shell)"
        if [ "$WINDOW" = "$1" ]; then
            xdotool click 1
            return 0
        fi
        sleep 0.1
    done
    wine_clicked="nowhere: the pointer at $wine_clicked was over window $WINDOW, not $1"
    return 1
}

# What the display shows, for the message of a check that fails: the click, the window (id $1)
# now, and a picture of the screen saved as $2.
wine_seen() {
    X="?" Y="?" WIDTH="?" HEIGHT="?"
    [ -n "$1" ] && eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)"
    state=$(xwininfo -id "${1:-none}" 2>/dev/null | sed -n 's/^ *Map State: //p')
    mkdir -p "$(dirname "$2")"
    import -window root "$2" 2>/dev/null || true
    echo "clicked at ${wine_clicked:-nowhere}; the window now ${state:-gone}, at ($X,$Y) of" \
        "${WIDTH}x$HEIGHT; windows named Mirabex:" \
        "$(xdotool search --name '^Mirabex$' 2>/dev/null | tr '\n' ' '); the screen: $2"
}
