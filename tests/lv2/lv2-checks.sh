#!/usr/bin/env bash
# The LV2 bundle as hosts meet it, run from ctest (plain native builds):
#
#   lv2-checks.sh bundle BUNDLES TOOLS WORK  validates, is found, lists its ports as the VST module
#                                            names and shows them; links only the C/C++ runtime
#   lv2-checks.sh apply BUNDLES TOOLS WORK   lv2apply renders as pellucer-render does
#   lv2-checks.sh host BUNDLES TOOLS WORK HOST   presets and states through lilv sound as the
#                                            same programs and states in pellucer-render
#
# BUNDLES is the folder holding Pellucer.lv2 (LV2_PATH); TOOLS holds pellucer-render and
# pellucer-compare; HOST is pellucer-lv2-host (tests/lv2/Lv2Host.cpp).
set -euo pipefail

what=$1
LV2_PATH=$(cd "$2" && pwd)
export LV2_PATH
tools=$3
work=$4
mkdir -p "$work"
uri=urn:tessaly:pellucer
bundle="$LV2_PATH/Pellucer.lv2"
render="$tools/pellucer-render"
compare="$tools/pellucer-compare"
source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The stereo float input every render takes: the reference voice excerpt, the right channel
# from the strip's Full Reset (the same voice), so the two differ in their last bits only.
make_input() {
    "$render" -q --no-progress --channels 2 --bits float --tail 0 --preroll 0 \
        "$source_dir/tests/data/reference/voice-excerpt.wav" "$1/input.wav"
}

# agree NAME REFERENCE RENDER: the LV2 render, 44 frames late (the plug-in's latency, which
# lv2apply and our host leave in), equals pellucer-render's within 1e-5.
agree() {
    local result
    if result=$("$compare" --offset 44 --tolerance 1e-5 "$2" "$3"); then
        echo "agrees: $1: $result"
    else
        fail "$1: $result"
    fi
}

case "$what" in
bundle)
    summary=$(lv2_validate "$bundle"/*.ttl 2>&1 | grep -v '^Skipping' || true)
    if ! grep -q '^Found 0 errors' <<<"$summary"; then
        fail "lv2_validate:"
        echo "$summary"
    fi
    listed=$(lv2ls)
    grep -qx "$uri" <<<"$listed" || fail "lv2ls does not list $uri with LV2_PATH=$LV2_PATH"
    # Ports: every parameter under its VST name, with its Full Reset value as the module's display
    # shows it (one decimal) as the default, inside its range.
    info=$(lv2info "$uri")
    grep -q 'Has latency: *yes, reported by port' <<<"$info" || fail "lv2info: no latency port"
    ports=$(awk '/^\tPort [0-9]+:/ { n++ } END { print n }' <<<"$info")
    [ "$ports" -eq 52 ] || fail "lv2info lists $ports ports, not 52"
    awk -F '\t\t' '/^\tPort [0-9]+:/ { port = $0; sub(/.*Port /, "", port); sub(/:/, "", port) }
        /^\t\tName:/ { sub(/Name: */, "", $2); name[port] = $2 }
        /^\t\tMinimum:/ { sub(/Minimum: */, "", $2); lo[port] = $2 }
        /^\t\tMaximum:/ { sub(/Maximum: */, "", $2); hi[port] = $2 }
        /^\t\tDefault:/ { sub(/Default: */, "", $2); def[port] = $2 }
        END { for (p = 5; p <= 43; p++) printf "%d\t%s\t%s\t%s\t%s\n", p - 5, name[p], lo[p], hi[p], def[p] }' \
        <<<"$info" >"$work/ports.tsv"
    "$render" --list-params | awk 'NR > 2' >"$work/params.txt"
    while IFS=$'\t' read -r index name minimum maximum default; do
        line=$(awk -v i="$index" '$1 == i' "$work/params.txt")
        shown=$(cut -c 31-45 <<<"$line" | sed 's/ *$//')
        vst_name=$(cut -c 6-30 <<<"$line" | sed 's/ *$//')
        [ "$name" = "$vst_name" ] || fail "port $index is named \"$name\", the VST module says \"$vst_name\""
        # "On"/"Off", "-12.0 dB", "4.0:1", "1:1.5", "12345": the number the display shows.
        number=$(sed -E 's/^On$/1/; s/^Off$/0/; s/^1:([0-9.]+)$/\1/; s/^([-0-9.]+).*/\1/' <<<"$shown")
        awk -v d="$default" -v n="$number" -v lo="$minimum" -v hi="$maximum" \
            'BEGIN { exit !(d - n <= 0.05 && n - d <= 0.05 && lo + 0 <= d + 0 && d + 0 <= hi + 0) }' ||
            fail "$name: default $default in $minimum..$maximum, the display shows \"$shown\""
    done <"$work/ports.tsv"
    # Nothing but the C and C++ runtime, and the one entry.
    needed=$(readelf -d "$bundle/Pellucer.so" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
    [ "$needed" = "libc.so.6 libgcc_s.so.1 libm.so.6 libstdc++.so.6 " ] ||
        fail "Pellucer.so needs: $needed"
    "$source_dir/cmake/check-exports.sh" nm "$bundle/Pellucer.so" lv2_descriptor || fail "exports"
    ;;
apply)
    make_input "$work"
    # lv2apply's controls | pellucer-render's settings. lv2apply runs one frame per call, and the
    # settings glide per block until they arrive: the renderer runs with the same block size.
    n=0
    while IFS='|' read -r controls settings; do
        n=$((n + 1))
        # shellcheck disable=SC2086 # the table's words are split on purpose
        lv2apply -i "$work/input.wav" -o "$work/lv2-$n.wav" $controls "$uri" >/dev/null
        eval "\"\$render\" -q --no-progress --tail 0 --preroll 0 --block-size 1 $settings \
            \"\$work/input.wav\" \"\$work/render-$n.wav\""
        agree "lv2apply ${controls:-(Full Reset)}" "$work/render-$n.wav" "$work/lv2-$n.wav"
    done <<'TABLE'
|
-c compander_enable 1 -c compressor_thresh -24 -c compressor_ratio 4 -c eq_enable 1 -c eq_mid_gain 6 -c eq_tube_mid_enable 1 -c eq_tube_saturation 60 -c deesser_enable 1 -c doubler_enable 1 -c delay_enable 1 -c delay_time 250 -c output_gain -6 -c reserved 54321|--set "Compander Enable=On" --set "Compressor Thresh=-24dB" --set "Compressor Ratio=4:1" --set "EQ Enable=On" --set "EQ Mid Gain=6dB" --set "EQ Tube Mid Enable=On" --set "EQ Tube Saturation=60%" --set "DeEsser Enable=On" --set "Doubler Enable=On" --set "Delay Enable=On" --set "Delay Time=250ms" --set "Output Gain=-6dB" --order 54321
-c delay_enable 1 -c delay_time 300 -c delay_sync_enable 1 -c delay_level -6 -c delay_feedback 40 -c delay_filter_mode 70 -c delay_filter_freq 2000|--set "Delay Enable=On" --set "Delay Time=300ms" --set "Delay Sync Enable=On" --set "Delay Level=-6dB" --set "Delay Feedback=40%" --set "Delay Filter Mode=70%" --set "Delay Filter Freq=2000Hz"
-c input_tube_enable 1 -c input_gain 9 -c input_tube_saturation 80 -c compander_enable 1 -c compressor_ratio 31.6227766 -c compander_attack 10 -c expander_ratio 3 -c doubler_enable 1 -c doubler_presence -80 -c output_tube_enable 1|--set "Input Tube Enable=On" --set "Input Gain=9dB" --set "Input Tube Saturation=80%" --set "Compander Enable=On" --set "Compressor Ratio=inf" --set "Compander Attack=10ms" --set "Expander Ratio=1:3" --set "Doubler Enable=On" --set "Doubler Presence=-inf" --set "Output Tube Enable=On"
TABLE
    ;;
host)
    host=$5
    make_input "$work"
    # Presets: the program through lilv against pellucer-render's program (both run from the
    # plug-in's creation, in 512-frame blocks).
    # The meters too: the levels are each block's peaks as the host measures them, and the
    # compressor's gain goes down only where a program compresses.
    for program in "Full Reset" "Female Quartet" "Dotted 8th Delay" "Hard Compression" "Telephone"; do
        name=${program// /-}
        meters=$("$host" --preset "$program" "$work/input.wav" "$work/preset-$name.wav")
        compressing=$("$render" --program "$program" --list-params | awk '$1 == 4 { print $4 }')
        awk -v c="$compressing" '/^level meters off: 0;/ { g = $NF == "dB" ? $(NF - 1) : $NF; ok = c == "On" ? g < -1 : g == 0 }
            END { exit !ok }' <<<"$meters" || fail "\"$program\" (compander ${compressing}): $meters"
        "$render" -q --no-progress --tail 0 --preroll 0 --program "$program" "$work/input.wav" "$work/render-$name.wav"
        agree "preset \"$program\"" "$work/render-$name.wav" "$work/preset-$name.wav"
    done
    # States: a chunk the renderer (the VST module's engine) saved, restored through the state
    # interface; then the same saved by the plug-in through lilv and restored in a new instance.
    "$render" --program "Vocal Compander" --order 54321 --set "Delay Enable=On" --set "Delay Time=120ms" \
        --set "Doubler Enable=On" --save-state "$work/state.chunk"
    "$render" -q --no-progress --tail 0 --preroll 0 --state "$work/state.chunk" "$work/input.wav" "$work/render-state.wav"
    "$host" --chunk "$work/state.chunk" "$work/input.wav" "$work/state.wav"
    agree "a VST state chunk restored" "$work/render-state.wav" "$work/state.wav"
    if "$host" --chunk "$work/state.chunk" --as-atom-chunk "$work/input.wav" "$work/wrong-type.wav" 2>/dev/null; then
        fail "the plug-in restored a chunk handed over as another type"
    fi
    "$host" --chunk "$work/state.chunk" --through-lilv "$work/state.ttl" "$work/input.wav" "$work/state-lilv.wav"
    agree "the state saved and restored through lilv" "$work/render-state.wav" "$work/state-lilv.wav"
    grep -q 'urn:tessaly:pellucer#state' "$work/state.ttl" || fail "lilv's state has no chunk property"
    # Ports set and the state saved before any run (as Ardour saves a new session): the state
    # holds the ports' values, and a new instance restored from it sounds as they ask. And a state
    # that missed them, restored with the ports set after it (as Ardour reopens such a session).
    ports=(-c reserved 54321 -c deesser_enable 1 -c eq_enable 1 -c eq_tube_mid_enable 1 -c eq_mid_gain 9
        -c delay_enable 1 -c delay_time 120)
    "$render" -q --no-progress --tail 0 --preroll 0 --order 54321 --set "DeEsser Enable=On" --set "EQ Enable=On" \
        --set "EQ Tube Mid Enable=On" --set "EQ Mid Gain=9dB" --set "Delay Enable=On" --set "Delay Time=120ms" \
        "$work/input.wav" "$work/render-ports.wav"
    "$host" "${ports[@]}" --through-lilv "$work/ports.ttl" "$work/input.wav" "$work/ports.wav"
    agree "ports saved before a run and restored through lilv" "$work/render-ports.wav" "$work/ports.wav"
    # The chunk in lilv's text itself holds the order: its 39th value, a float at byte 4848.
    order=$(sed -n '/pellucer#StateChunk/,$p' "$work/ports.ttl" | awk '/"""/ { n++ } { print } n == 2 { exit }' |
        tr -d ' \t\n' | sed 's/.*rdf:value"""//; s/""".*//' | base64 -d | od -An -t f4 -j 4848 -N 4 | tr -d ' ')
    [ "$order" = 54321 ] || fail "the state saved before a run holds the module order \"$order\", not 54321"
    "$render" --save-state "$work/full-reset.chunk"
    "$host" --chunk "$work/full-reset.chunk" "${ports[@]}" "$work/input.wav" "$work/stale.wav"
    agree "ports set after a state that missed them" "$work/render-ports.wav" "$work/stale.wav"
    # Host time: the synced delay at the host's tempo; a transport start clears the echoes of what
    # played before (they ring on when the transport keeps rolling).
    "$host" --tempo 90 --preset "Dotted 8th Delay" "$work/input.wav" "$work/tempo.wav"
    "$render" -q --no-progress --tail 0 --preroll 0 --tempo 90 --program "Dotted 8th Delay" "$work/input.wav" \
        "$work/render-tempo.wav"
    agree "the synced delay at the host's 90 BPM" "$work/render-tempo.wav" "$work/tempo.wav"
    echoes=(-c delay_enable 1 -c delay_time 100 -c delay_feedback 80 --tempo 120 --silence-from 13230)
    ringing=$("$host" "${echoes[@]}" "$work/input.wav" "$work/ringing.wav" | sed -n 's/^peak after the input ends: //p')
    cleared=$("$host" "${echoes[@]}" --restart "$work/input.wav" "$work/cleared.wav" |
        sed -n 's/^peak after the input ends: //p')
    if awk -v r="$ringing" -v c="$cleared" 'BEGIN { exit !(r > 1e-3 && c < 1e-5) }'; then
        echo "agrees: after the input, echoes at $ringing; cleared by a transport start: $cleared"
    else
        fail "after the input, echoes at \"$ringing\"; after a transport start \"$cleared\" (not below 1e-5)"
    fi
    ;;
*)
    echo "usage: lv2-checks.sh bundle|apply|host BUNDLES TOOLS WORK [HOST]" >&2
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
    echo "lv2-checks $what: $failures failed"
    exit 1
fi
echo "lv2-checks $what: passed"
