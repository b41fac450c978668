#!/bin/sh
# Runs a 64-bit Windows program under Wine, in a Wine prefix of its own.
#
#   cmake/wine-run.sh PREFIX PROGRAM.exe [ARGS...]   run a program (CMake's emulator for build/win64)
#   cmake/wine-run.sh PREFIX --start                 create PREFIX if needed and keep a wineserver up
#   cmake/wine-run.sh PREFIX --stop                  stop that wineserver and every Wine process in PREFIX,
#                                                    and the prefix's X server
#
# PREFIX is a directory inside the build tree (build/win64/wineprefix), never ~/.wine.
# Creating it takes a few seconds and happens once, under a lock, on first use.
# While a wineserver started with --start is up, each program starts in some tens of
# milliseconds instead of most of a second; `make test` brackets ctest with --start/--stop.
#
# Only 64-bit programs can run: a 32-bit .exe under wine64 exits 0 without doing anything.
# Set WINEDEBUG yourself to see Wine's diagnostics (default: -all).
#
# Windows cannot be created without an X server. When DISPLAY is not set, the prefix gets an
# Xvfb of its own (started by --start, or by the first program run that finds none), and every
# Wine process of the prefix is given its display, so that Wine never starts its desktop
# without one. The display and the server's pid are kept in PREFIX/.pellucer-display. The X
# server ends with --stop, or once the prefix's wineserver has been gone for a while.
# A DISPLAY set by the caller is used as it is.
set -eu

usage() {
    echo "usage: $0 PREFIX PROGRAM.exe [ARGS...] | $0 PREFIX --start | $0 PREFIX --stop" >&2
    exit 2
}
[ $# -ge 2 ] || usage

wine=${PELLUCER_WINE:-/usr/lib/wine/wine64}
if [ ! -x "$wine" ]; then
    echo "wine-run.sh: $wine not found (Debian package wine64; 'make deps' installs it)" >&2
    exit 127
fi

# Debian's wine64 puts the real server binary at /usr/lib/wine/wineserver64; /usr/lib/wine/wineserver
# (package libwine) is a shell wrapper that adds -p0, and /usr/bin/wineserver exists only when the
# optional "wine" package is there. The loader starts whatever WINESERVER names.
wineserver=${PELLUCER_WINESERVER:-}
if [ -z "$wineserver" ]; then
    for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || :)"; do
        if [ -n "$candidate" ] && [ -x "$candidate" ]; then
            wineserver=$candidate
            break
        fi
    done
fi
if [ -z "$wineserver" ]; then
    echo "wine-run.sh: no wineserver found next to $wine" >&2
    exit 127
fi

mkdir -p "$1"
WINEPREFIX=$(cd "$1" && pwd)
shift
export WINEPREFIX WINESERVER="$wineserver"
export WINEDEBUG="${WINEDEBUG:--all}"
# No sound driver (ALSA probing prints noise), no Mono/Gecko install prompts, and no
# winemenubuilder writing menu entries into $HOME.
export WINEDLLOVERRIDES="winealsa.drv=d;mscoree,mshtml=;winemenubuilder.exe=d"

ready="$WINEPREFIX/.pellucer-prefix-ready"
# Windows of the prefix are not left to an X window manager: Xvfb has none, and Wine waits two
# seconds for one at every hide or destroy of a managed window.
unmanaged="$WINEPREFIX/.pellucer-x11-unmanaged"

ensure_prefix() {
    [ -f "$ready" ] && [ -f "$unmanaged" ] && return 0
    # Several tests may start at once on a new prefix: let one create it, the others wait.
    (
        flock 9
        if [ ! -f "$ready" ]; then
            # wineboot complains once about syswow64\rundll32.exe (no 32-bit Wine): harmless.
            if ! "$wine" wineboot -i </dev/null >"$WINEPREFIX/wineboot.log" 2>&1; then
                echo "wine-run.sh: creating the Wine prefix $WINEPREFIX failed:" >&2
                cat "$WINEPREFIX/wineboot.log" >&2
                exit 1
            fi
            touch "$ready"
        fi
        if [ ! -f "$unmanaged" ]; then
            if "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
                </dev/null >"$WINEPREFIX/configure.log" 2>&1; then
                touch "$unmanaged"
            else
                echo "wine-run.sh: could not configure $WINEPREFIX (see configure.log); windows stay managed" >&2
            fi
        fi
    ) 9>"$WINEPREFIX/.pellucer-prefix-lock"
}

display_file="$WINEPREFIX/.pellucer-display"

# Succeeds when the display recorded for the prefix still has its X server.
recorded_display_alive() {
    [ -f "$display_file" ] || return 1
    read -r display pid <"$display_file" || return 1
    [ -n "${display:-}" ] && [ -n "${pid:-}" ] || return 1
    kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X${display#:}" ]
}

# Starts an Xvfb on a free display number and records it. Runs under the display lock.
start_xvfb() {
    xvfb=${PELLUCER_XVFB:-Xvfb}
    if ! command -v "$xvfb" >/dev/null 2>&1; then
        echo "wine-run.sh: DISPLAY is not set and $xvfb is not installed (Debian package xvfb)" >&2
        return 1
    fi
    # Look from a number derived from our pid, so that prefixes started at the same time rarely
    # try the same one; Xvfb refuses a taken display and we move on.
    n=$(( 100 + $$ % 400 ))
    tries=0
    while [ $tries -lt 50 ]; do
        tries=$((tries + 1))
        if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then
            n=$((n + 1))
            continue
        fi
        # Detached and with every descriptor closed: CTest waits for whoever holds a test's
        # output, and the lock descriptor must not outlive this function.
        setsid "$xvfb" ":$n" -screen 0 1280x1024x24 -nolisten tcp \
            </dev/null >"$WINEPREFIX/xvfb.log" 2>&1 8>&- 9>&- &
        waited=0
        while [ $waited -lt 100 ]; do
            if [ -S "/tmp/.X11-unix/X$n" ] && [ -f "/tmp/.X$n-lock" ]; then
                # The lock file holds the server's pid (blank-padded).
                pid=$(tr -dc '0-9' <"/tmp/.X$n-lock")
                if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
                    echo ":$n $pid" >"$display_file"
                    watch_xvfb "$pid" "$n"
                    return 0
                fi
            fi
            if ! kill -0 $! 2>/dev/null; then
                break   # it gave up (display taken meanwhile): try the next number
            fi
            sleep 0.1
            waited=$((waited + 1))
        done
        kill $! 2>/dev/null || true
        n=$((n + 1))
    done
    echo "wine-run.sh: could not start $xvfb (see $WINEPREFIX/xvfb.log)" >&2
    return 1
}

# Ends the X server once the prefix's wineserver is gone and no new one came within 10 s
# (`wineserver -w` waits for the running server to exit and returns at once when none runs).
watch_xvfb() {
    setsid sh -c '
        while :; do
            "$WINESERVER" -w
            sleep 10
            timeout 2 "$WINESERVER" -w
            [ $? -eq 124 ] || break
        done
        # Only the server this watcher was started for, and only while it is still recorded
        # (--stop, or a newer server, took over otherwise).
        if [ -f "$3" ] && [ "$(cut -d" " -f2 "$3")" = "$1" ]; then
            rm -f "$3"
            grep -q Xvfb "/proc/$1/comm" 2>/dev/null && kill "$1"
        fi
    ' watch-xvfb "$1" "$2" "$display_file" </dev/null >/dev/null 2>&1 8>&- 9>&- &
}

# Gives this process (and so every Wine process it starts) a display. Without one, programs
# still run; only their windows fail.
ensure_display() {
    [ -n "${DISPLAY:-}" ] && return 0
    if ! (
        flock 8
        recorded_display_alive || start_xvfb
    ) 8>"$WINEPREFIX/.pellucer-display-lock"; then
        echo "wine-run.sh: no X server: Windows programs run without a display" >&2
        return 0
    fi
    read -r DISPLAY pid <"$display_file"
    export DISPLAY
}

# Ends the X server recorded for the prefix (one that this script started).
stop_xvfb() {
    [ -f "$display_file" ] || return 0
    read -r display pid <"$display_file" || true
    rm -f "$display_file"
    if [ -n "${pid:-}" ]; then
        kill "$pid" 2>/dev/null || true
    fi
}

case "$1" in
    --start)
        # Stays up for two minutes after the last Wine program ends, in case --stop never comes.
        "$wineserver" -p120 </dev/null >/dev/null 2>&1 || true
        ensure_display
        ensure_prefix
        # Start Wine's own services now, with their output going nowhere, so the first test
        # does not pay for it.
        "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
        ;;
    --stop)
        # The wineserver first: Wine processes complain when their X server goes before them.
        "$wineserver" -k >/dev/null 2>&1 || true
        "$wineserver" -w >/dev/null 2>&1 || true
        stop_xvfb
        ;;
    -*)
        usage
        ;;
    *)
        ensure_display
        ensure_prefix
        exec "$wine" "$@"
        ;;
esac
