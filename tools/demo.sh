#!/usr/bin/env bash
# The demo: examples/voice.wav through a handful of contrasting factory programs, each written to
# out/NN-name.wav (stereo 16-bit WAV: the doubler and the delay spread the mono voice), with one
# summary line per program.
#
#   tools/demo.sh BUILD_DIR        (BUILD_DIR/tools/pellucer-render is used)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:?usage: tools/demo.sh BUILD_DIR}"
tool="$build/tools/pellucer-render"
input="$root/examples/voice.wav"
out="$root/out"

[ -x "$tool" ] || { echo "demo: $tool not found; build $build first" >&2; exit 1; }
[ -f "$input" ] || { echo "demo: $input not found (tools/make-example-voice.sh makes it)" >&2; exit 1; }

programs=(
    "Full Reset"         # everything neutral: the voice as it went in
    "Esser"              # the de-esser alone, hard on the sibilants
    "Hard Compression"   # the compander squeezing the dynamics
    "Telephone"          # tubes, band-limiting equaliser, compression
    "Heavy Distortion"   # all three tube stages driven
    "Tracking Doubler"   # the doubler alone: a second voice
    "Dotted 8th Delay"   # tempo-synced echo at 120 BPM
    "Arena"              # the whole strip in a different module order
)

mkdir -p "$out"
echo "demo: $(basename "$input") through ${#programs[@]} factory programs into out/"
first=1
number=0
for program in "${programs[@]}"; do
    slug=$(printf '%s' "$program" | tr '[:upper:]' '[:lower:]' | tr -cs 'a-z0-9' '-' | sed 's/-$//')
    file="$out/$(printf '%02d' "$number")-$slug.wav"
    summary=$("$tool" --program "$program" --channels 2 --no-progress "$input" "$file")
    if [ "$first" -eq 1 ]; then
        echo "  input: ${summary%%;*}"
        first=0
    fi
    # Everything after the input's figures: output levels and gain reductions.
    printf '  %-18s %s\n' "$program" "${summary#*; }"
    number=$((number + 1))
done
echo "demo: listen to out/*.wav"
