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
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
sleep 1
export DISPLAY="$display"
export MIRABEX_BENCH_READER="${MIRABEX_BENCH_READER:-on}"
dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    bus=$!
    sleep 1
    listener=""
    if [ "$MIRABEX_BENCH_READER" = off ]; then
        echo "Accessibility bus on, no client listening"
    else
        /usr/bin/python3 "$0" &
        listener=$!
        echo "Accessibility bus on, a reading client listening"
    fi
    sleep 2
    status=0
    "$@" || status=$?
    if [ -n "$listener" ]; then
        kill $listener 2>/dev/null
        wait $listener 2>/dev/null || true
    fi
    kill $bus 2>/dev/null
    exit $status' "$here/a11y-listener.py" "$@"
