#!/usr/bin/env bash
# Renders tests/data/reference/voice-excerpt.wav through a handful of contrasting factory
# programs into tests/data/reference/<program>.flac (24-bit stereo). The native tests render the
# same excerpt again and require every sample to stay within 1e-6 of these files, so that an
# optimisation cannot change the sound unnoticed. Run it only when a change of sound is meant,
# and say so in the commit.
#
#   tools/make-reference-renders.sh [PELLUCER-RENDER]     (default build/release/tools/pellucer-render)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
render="${1:-$root/build/release/tools/pellucer-render}"
dir="$root/tests/data/reference"
# The programs and the render options: the test reads both from here.
programs="$(sed -n 's/^PROGRAMS=//p' "$dir/renders.txt")"
options="$(sed -n 's/^OPTIONS=//p' "$dir/renders.txt")"

for program in $programs; do
    # shellcheck disable=SC2086 # the options are words
    PELLUCER_RESOURCES_FOLDER="$root/skin" "$render" --program "$program" $options --format flac --bits 24 \
        --no-progress -q "$dir/voice-excerpt.wav" "$dir/$program.flac"
    echo "tests/data/reference/$program.flac"
done
