#!/bin/sh
# check-skin.sh GENERATOR WORK_DIR SKIN_DIR
# Draws the skin again into WORK_DIR and compares every file byte for byte with the committed
# skin in SKIN_DIR; also fails on images in SKIN_DIR that the generator no longer draws.
set -u
generator=$1
work=$2
skin=$3

rm -rf "$work"
mkdir -p "$work"
if ! "$generator" "$work"; then
    echo "check-skin: $generator failed" >&2
    exit 1
fi

status=0
for file in "$work"/*; do
    name=$(basename "$file")
    if [ ! -f "$skin/$name" ]; then
        echo "check-skin: $name is drawn but missing from $skin" >&2
        status=1
    elif ! cmp -s "$file" "$skin/$name"; then
        echo "check-skin: $skin/$name differs from what the generator draws" >&2
        status=1
    fi
done
for file in "$skin"/*.bmp; do
    [ -e "$file" ] || continue
    name=$(basename "$file")
    if [ ! -f "$work/$name" ]; then
        echo "check-skin: $skin/$name is no longer drawn by the generator" >&2
        status=1
    fi
done
if [ $status -ne 0 ]; then
    echo "check-skin: the committed skin is out of date: run \`make skin\` and commit" >&2
fi
exit $status
