#!/bin/sh
# check-skin.sh GENERATOR WORK_DIR SKIN_DIR
# Draws the skin again into WORK_DIR and compares it with the committed skin in SKIN_DIR: the
# graphics table byte for byte, the images as pictures (a level or two of rasteriser difference
# between machines is allowed, a change of the art is not), and no images left over.
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
if ! "$generator" --compare "$work" "$skin"; then
    echo "check-skin: the committed skin is out of date: run \`make skin\` and commit" >&2
    exit 1
fi
echo "check-skin: the committed skin is what the generator draws"
