#!/usr/bin/env bash
# check-exports.sh OBJDUMP_OR_NM FILE NAME...
# Fails unless FILE exports exactly the given names: a Windows DLL (read with objdump -p) or an
# ELF shared object (read with nm -D). Runs nothing from the file itself.
set -euo pipefail
tool=$1
file=$2
shift 2
expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
case "$file" in
*.dll)
    actual=$("$tool" -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*\([^[:space:]]*\).*/\1/p' | LC_ALL=C sort)
    ;;
*)
    actual=$("$tool" -D --defined-only "$file" | awk '$2 ~ /^[TtWwDdBbRrVvi]$/ { print $3 }' |
        sed 's/@.*//' | LC_ALL=C sort -u)
    ;;
esac
if [ "$actual" != "$expected" ]; then
    echo "$file exports:"
    echo "$actual" | sed 's/^/    /'
    echo "expected exactly:"
    echo "$expected" | sed 's/^/    /'
    exit 1
fi
echo "$file exports exactly: $(echo $expected)"
