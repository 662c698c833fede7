#!/bin/sh
# Runs a command as on a desktop where assistive technology is on: a display (Xvfb), a session
# bus, the accessibility bus, and a client that listens to the applications as a screen reader
# does (it follows the focus and reads a text as it grows, bench/a11y-listener.py).
# Usage: bench/desktop-session.sh COMMAND [ARGUMENT...]
#   e.g. bench/desktop-session.sh build/bench/bench/switchbench --desktop --case medium
# With MIRABEX_BENCH_READER=off the accessibility bus is on but no client listens: the same
# command then shows what the client itself costs the application.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
sh "$here/../scripts/install-dependencies.sh" xvfb xauth dbus at-spi2-core python3-pyatspi \
    gir1.2-atspi-2.0
# Xvfb takes a free display itself and writes its number once it accepts connections: no other
# session of the machine (a test running beside, the package check) shares it, and nothing starts
# before it is ready.
fifo=$(mktemp -u "${TMPDIR:-/tmp}/mirabex-display.XXXXXX")
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
display=""
read -r display <"$fifo" || true
rm -f "$fifo"
[ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
export MIRABEX_BENCH_READER="${MIRABEX_BENCH_READER:-on}"
dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    bus=$!
    # The accessibility bus is there once its launcher owns its name on the session bus.
    for _ in $(seq 600); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null \
            | grep -q "boolean true" && break
        sleep 0.1
    done
    listener=""
    if [ "$MIRABEX_BENCH_READER" = off ]; then
        echo "Accessibility bus on, no client listening"
    else
        /usr/bin/python3 "$0" &
        listener=$!
        echo "Accessibility bus on, a reading client listening"
        sleep 2
    fi
    status=0
    "$@" || status=$?
    if [ -n "$listener" ]; then
        kill $listener 2>/dev/null
        wait $listener 2>/dev/null || true
    fi
    kill $bus 2>/dev/null
    exit $status' "$here/a11y-listener.py" "$@"
