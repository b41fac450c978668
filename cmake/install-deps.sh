#!/bin/sh
# cmake/install-deps.sh PACKAGE...
# Installs the Debian packages of the list that are not installed yet; does nothing (and asks
# no mirror) when all are there. Uses sudo unless running as root. Called by `make deps`.
set -eu

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: not a Debian system; install these yourself: $*" >&2
    exit 0
fi

missing=""
for pkg in "$@"; do
    if [ "$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)" != "installed" ]; then
        missing="$missing $pkg"
    fi
done

if [ -z "$missing" ]; then
    echo "install-deps: all $# packages installed"
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    sudo=""
elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
else
    echo "install-deps: missing:$missing; run this as root or install sudo" >&2
    exit 1
fi

echo "install-deps: installing$missing"
# Wait for a dpkg lock held by another apt instead of failing at once.
apt_opts="-y -q -o DPkg::Lock::Timeout=600"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get $apt_opts update
# shellcheck disable=SC2086 # word splitting of the package list is wanted
$sudo env DEBIAN_FRONTEND=noninteractive apt-get $apt_opts install $missing
