#!/bin/sh
# Runs a 64-bit Windows program under Wine, in a Wine prefix of its own.
#
#   cmake/wine-run.sh PREFIX PROGRAM.exe [ARGS...]   run a program (CMake's emulator for build/win64)
#   cmake/wine-run.sh PREFIX --start                 create PREFIX if needed and keep a wineserver up
#   cmake/wine-run.sh PREFIX --stop                  stop that wineserver and every Wine process in PREFIX
#
# PREFIX is a directory inside the build tree (build/win64/wineprefix), never ~/.wine.
# Creating it takes a few seconds and happens once, under a lock, on first use.
# While a wineserver started with --start is up, each program starts in some tens of
# milliseconds instead of most of a second; `make test` brackets ctest with --start/--stop.
#
# Only 64-bit programs can run: a 32-bit .exe under wine64 exits 0 without doing anything.
# Set WINEDEBUG yourself to see Wine's diagnostics (default: -all).
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

ensure_prefix() {
    [ -f "$ready" ] && return 0
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
    ) 9>"$WINEPREFIX/.pellucer-prefix-lock"
}

case "$1" in
    --start)
        # Stays up for two minutes after the last Wine program ends, in case --stop never comes.
        "$wineserver" -p120 </dev/null >/dev/null 2>&1 || true
        ensure_prefix
        # Start Wine's own services now, with their output going nowhere, so the first test
        # does not pay for it.
        "$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
        ;;
    --stop)
        "$wineserver" -k >/dev/null 2>&1 || true
        "$wineserver" -w >/dev/null 2>&1 || true
        ;;
    -*)
        usage
        ;;
    *)
        ensure_prefix
        exec "$wine" "$@"
        ;;
esac
