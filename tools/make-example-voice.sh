#!/usr/bin/env bash
# Makes examples/voice.wav, the short voice sample that `make demo` renders: two sentences full
# of sibilants spoken by espeak-ng, resampled to 44.1 kHz, normalised to -3 dBFS peak and padded
# with a little silence, saved as 16-bit mono WAV (about 800 KB).
#
#   tools/make-example-voice.sh [OUTPUT]        (default examples/voice.wav)
#
# Needs the Debian packages espeak-ng and sox (installed when missing). espeak-ng 1.51 and
# SoX 14.4.2 (Debian 12) made the committed file; other versions may differ slightly.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
output="${1:-$root/examples/voice.wav}"

missing=()
command -v espeak-ng >/dev/null 2>&1 || missing+=(espeak-ng)
command -v sox >/dev/null 2>&1 || missing+=(sox)
if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y "${missing[@]}"
fi

text="She sells sea shells by the seashore; Sally's scissors slice six silk sashes. \
Sasha's sister says this sauce is simply splendid."

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# American English voice, 160 words per minute, default pitch; espeak-ng writes 22.05 kHz mono.
espeak-ng -v en-us -s 160 -w "$work/speech.wav" "$text"
# 44.1 kHz with SoX's very-high-quality resampler, peak at -3 dBFS, 0.3 s of silence before and
# 0.5 s after the speech; 16-bit mono. `-D` leaves out dither so the result is reproducible.
mkdir -p "$(dirname "$output")"
sox -D "$work/speech.wav" -r 44100 -b 16 -c 1 "$output" rate -v gain -n -3 pad 0.3 0.5
echo "wrote $output ($(soxi -D "$output") s, $(stat -c %s "$output") bytes)"
