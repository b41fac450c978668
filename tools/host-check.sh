#!/usr/bin/env bash
# Host check: the plug-in inside a real host (Ardour 7, headless) on four sessions, then the LV2
# plug-in on three more.
#
#   1. Full Reset on a generated stereo test signal: the output equals the input, frame for frame
#      (the plug-in reports 1 ms of latency and Ardour compensates it).
#   2. The delay on, 250 ms, level 1, filter flat, no feedback: the output is the input plus the
#      input 250 ms (11,025 frames) later, at full level.
#   3. Output Gain at -24 dB: the output is the input 24 dB down.
#   4. One factory program on a voice, against pellucer-render at the same settings: the two
#      files agree sample for sample within 1e-5.
#   5-7. The LV2 plug-in (Pellucer.lv2 beside the module): checks 1 and 2 again, and a session
#      saved with the module order 54321 reopens with that order and sounds as pellucer-render
#      does in that order.
#
#   tools/host-check.sh [BUILD_DIR] [MODULE_DIR]
#
# BUILD_DIR (default build/release) holds tools/pellucer-render and tools/pellucer-compare;
# MODULE_DIR (default dist/linux-x86_64) holds Pellucer.so with Resources/ beside it.
# HOST_CHECK_PROGRAM picks the program of check 4 (default "Female Quartet": compander,
# equaliser, de-esser, doubler and a free-running delay, in the default module order).
#
# How a session is rendered (Ardour's Lua API cannot import audio without its GUI):
#   1. pellucer-render saves the settings as a state chunk; the inputs are stereo float files
#      with silence after the sound for the echoes, since Ardour renders exactly the session's
#      length.
#   2. ardour7-lua creates a 44.1 kHz session with one stereo track, inserts the plug-in and sets
#      parameters 0-37 to the state's values (the Lua call takes normalised values only; the
#      module order, parameter 38, is written into the saved session instead).
#   3. The saved session is edited: the input as the track's region, the session range, panners
#      bypassed so that the master bus passes both channels unchanged.
#   4. ardour7-export renders the master bus (Ardour compensates the plug-in's latency).
# For check 4: Ardour runs the plug-in for a couple of seconds before the export starts, and the
# doubler's sweep follows the frames processed since the plug-in was created. The check finds
# that number (pellucer-render --preroll, tried on the first second, coarse to fine) and then
# compares the whole file.
# Everything happens in build/host-check; Ardour's settings and caches stay in there too.
set -euo pipefail
shopt -u patsub_replacement 2>/dev/null || true

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/release}" && pwd)"
modules="$(cd "${2:-$root/dist/linux-x86_64}" && pwd)"
program="${HOST_CHECK_PROGRAM:-Female Quartet}"
tool="$build/tools/pellucer-render"
compare="$build/tools/pellucer-compare"
module="$modules/Pellucer.so"
lv2_uri=urn:tessaly:pellucer
work="$root/build/host-check"
rate=44100
tolerance=1e-5
tail_seconds=4

say() { echo "host-check: $*"; }
die() { echo "host-check: $*" >&2; exit 1; }

for file in "$tool" "$compare" "$module" "$modules/Pellucer.lv2/manifest.ttl"; do
    [ -e "$file" ] || die "$file not found (build the release tree and dist/ first)"
done
[ -d "$modules/Resources" ] || die "$modules/Resources not found beside the module"

missing=()
command -v ardour7-lua >/dev/null 2>&1 || missing+=(ardour)
command -v sox >/dev/null 2>&1 || missing+=(sox)
if [ "${#missing[@]}" -gt 0 ]; then
    say "installing ${missing[*]}"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
ardour_lib=/usr/lib/ardour7

rm -rf "$work"
mkdir -p "$work/trials"
# LV2_PATH names a folder of bundles alone (lilv would read every other file beside it as one).
mkdir -p "$work/lv2"
ln -s "$modules/Pellucer.lv2" "$work/lv2/Pellucer.lv2"
export XDG_CONFIG_HOME="$work/xdg-config" XDG_CACHE_HOME="$work/xdg-cache" LXVST_PATH="$modules" LV2_PATH="$work/lv2"

# Ardour's index of the plug-in (rebuilt every time: a stale entry hides a rebuilt module).
# Ardour does not trust an index entry made in the same second as the module's last change
# (a freshly copied module): wait until the module is a little older than the scan.
while [ $(($(date +%s) - $(stat -c %Y "$module"))) -lt 2 ]; do sleep 1; done
LD_LIBRARY_PATH="$ardour_lib" "$ardour_lib/ardour-vst-scanner" -f "$module" >"$work/scan.log" 2>&1 ||
    die "Ardour's scanner failed on $module (see $work/scan.log)"

# ardour_render NAME STATE INPUT OUTPUT: renders the stereo float INPUT through the plug-in set
# to the state chunk STATE, in a new session build/host-check/NAME, into OUTPUT; prints the
# session's tempo (the synced delay takes its time from it; 120 BPM in a new session).
# STATE "lv2:INDEX=VALUE,..." takes the LV2 plug-in instead, its control ports set to the values
# given (in the units the ports show; the module order is a port like the others).
ardour_render() {
    local name="$1" state="$2" input="$3" output="$4"
    local session="$work/$name"
    local order="" frames plugin_lua
    frames=$(soxi -s "$input")
    if [[ "$state" == lv2:* ]]; then
        plugin_lua="local plugin = ARDOUR.LuaAPI.new_plugin(s, \"$lv2_uri\", ARDOUR.PluginType.LV2, \"\")
assert(not plugin:isnil(), \"Ardour did not find the LV2 plug-in $lv2_uri\")
track:add_processor_by_index(plugin, 0, nil, true)
for i, v in string.gmatch(\"${state#lv2:}\", \"(%d+)=([-%d.]+)\") do
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, tonumber(i), tonumber(v)), \"parameter \" .. i)
end"
    else
        order=$("$tool" --state "$state" --list-params | awk '$1 == 38 { print $3 }')
        plugin_lua="local f = assert(io.open(\"$state\", \"rb\"))
local chunk = f:read(\"a\")
f:close()
assert(#chunk == 4852, \"the state file is not a state chunk\")
local plugin = ARDOUR.LuaAPI.new_plugin(s, \"Pellucer\", ARDOUR.PluginType.LXVST, \"\")
assert(not plugin:isnil(), \"Ardour did not find the plug-in Pellucer\")
track:add_processor_by_index(plugin, 0, nil, true)
-- The 39 values of the chunk start at byte 4696 (little-endian floats); 38 is the order code.
for i = 0, 37 do
  local v = string.unpack(\"<f\", chunk, 4696 + 4 * i + 1)
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, i, v), \"parameter \" .. i)
end"
    fi
    cat >"$work/$name.lua" <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session("$session", "$name", $rate)
assert(s, "no session")
local track = s:new_audio_track(2, 2, nil, 1, "Voice", ARDOUR.PresentationInfo.max_order,
                                ARDOUR.TrackMode.Normal, true):front()
$plugin_lua
print("plug-in latency", plugin:signal_latency())
s:save_state("")
close_session()
LUA
    ardour7-lua "$work/$name.lua" >"$work/$name-session.log" 2>&1 ||
        die "ardour7-lua failed (see $work/$name-session.log)"
    grep -q "plug-in latency" "$work/$name-session.log" ||
        die "the session was not built (see $work/$name-session.log)"
    say "$name: Ardour reports $(grep "plug-in latency" "$work/$name-session.log")" >&2

    # The input as the track's region and the session range. Times are superclock ticks
    # (282,240,000 a second); a length is written a<ticks>@a<position>.
    mkdir -p "$session/interchange/$name/audiofiles"
    cp "$input" "$session/interchange/$name/audiofiles/input.wav"
    local ticks=$((frames * 282240000 / rate))
    local xml region sources locations element
    xml="$(cat "$session/$name.ardour")"
    region="<Region name=\"input\" muted=\"0\" opaque=\"1\" locked=\"0\" video-locked=\"0\" automatic=\"0\" \
whole-file=\"1\" import=\"0\" external=\"0\" sync-marked=\"0\" left-of-split=\"0\" right-of-split=\"0\" \
hidden=\"0\" position-locked=\"0\" valid-transients=\"0\" start=\"a0\" length=\"a${ticks}@a0\" \
position=\"a0\" sync-position=\"a0\" stretch=\"1\" shift=\"1\" layering-index=\"0\" tags=\"\" \
contents=\"0\" envelope-active=\"0\" default-fade-in=\"0\" default-fade-out=\"0\" fade-in-active=\"0\" \
fade-out-active=\"0\" scale-amplitude=\"1\" id=\"900003\" type=\"audio\" first-edit=\"nothing\" \
source-0=\"900001\" source-1=\"900002\" master-source-0=\"900001\" master-source-1=\"900002\" channels=\"2\"/>"
    sources="<Sources>
    <Source name=\"input.wav\" type=\"audio\" flags=\"\" id=\"900001\" captured-for=\"\" take-id=\"\" channel=\"0\" origin=\"\" gain=\"1\"/>
    <Source name=\"input.wav\" type=\"audio\" flags=\"\" id=\"900002\" captured-for=\"\" take-id=\"\" channel=\"1\" origin=\"\" gain=\"1\"/>
  </Sources>"
    locations="<Locations>
    <Location id=\"900004\" name=\"session\" start=\"a0\" end=\"a${ticks}\" flags=\"IsSessionRange\" locked=\"0\" timestamp=\"0\" cue=\"0\"/>
  </Locations>"
    for element in "<Sources/>" "<Regions/>" "<Locations/>"; do
        [[ "$xml" == *"$element"* ]] || die "the new session has no empty $element"
    done
    xml="${xml/<Sources\/>/$sources}"
    xml="${xml/<Regions\/>/<Regions>
    $region
  </Regions>}"
    xml="${xml/<Locations\/>/$locations}"
    xml="$(printf '%s\n' "$xml" | sed -E 's|(<Playlist [^>]*name="Voice" type="audio"[^>]*)/>|\1>@REGION@</Playlist>|')"
    [[ "$xml" == *"@REGION@"* ]] || die "the track's playlist was not found in the session"
    xml="${xml/@REGION@/
      $region
    }"
    # Panners pass the channels straight through; the VST module's order goes in as the raw code.
    xml="${xml//<PannerShell bypassed=\"0\"/<PannerShell bypassed=\"1\"}"
    if [ -n "$order" ]; then
        xml="$(printf '%s\n' "$xml" | sed -E "s/param-38=\"[0-9.]+\"/param-38=\"$order\"/; \
            s/(<Controllable name=\"Reserved\" [^>]*value=\")[0-9.]+\"/\1$order\"/")"
    fi
    printf '%s\n' "$xml" >"$session/$name.ardour"

    ardour7-export -b float -o "$output" "$session" "$name" >"$work/$name-export.log" 2>&1 ||
        die "ardour7-export failed (see $work/$name-export.log)"
    [ -s "$output" ] || die "ardour7-export wrote nothing (see $work/$name-export.log)"
    grep -o '<Tempo npm="[0-9.]*"' "$session/$name.ardour" | head -1 | sed 's/.*npm="//; s/"$//'
}

failures=0
checks=0
# check DESCRIPTION EXPECTED RENDER [TOLERANCE]: the render must equal the expected file frame
# for frame (no shift: Ardour has compensated the latency) within 1e-6 (sox computes the expected
# files in 32-bit fixed point) or TOLERANCE.
check() {
    local result status
    checks=$((checks + 1))
    result=$("$compare" --offset 0 --tolerance "${4:-1e-6}" "$2" "$3") && status=0 || status=$?
    if [ "$status" -eq 0 ]; then
        say "passed: $1"
    else
        say "FAILED: $1 (files in $work)"
        failures=$((failures + 1))
    fi
    say "  $result"
}

# Checks 1-3 on a generated stereo signal: a 100 Hz-8 kHz sweep on the left and pink noise on
# the right, 1.5 s long at -14 dBFS, with half a second of silence before it and one after.
signal="$work/signal.wav"
sox -n -r "$rate" -e floating-point -b 32 -c 2 "$signal" synth 1.5 sine 100-8000 pinknoise \
    gain -14 pad 0.5 1.0
signal_frames=$(soxi -s "$signal")
say "test signal: $(soxi -d "$signal") of stereo at $rate Hz"

state="$work/full-reset.state"
"$tool" --program "Full Reset" --save-state "$state"
ardour_render full-reset "$state" "$signal" "$work/full-reset.wav" >/dev/null
check "at Full Reset the output equals the input, aligned" "$signal" "$work/full-reset.wav"

state="$work/echo.state"
"$tool" --program "Full Reset" --set "Delay Enable=On" --set "Delay Time=250ms" --set "Delay Level=1" \
    --set "Delay Feedback=0" --set "Delay Filter Mode=0" --set "Delay Filter Freq=1" --save-state "$state"
ardour_render echo "$state" "$signal" "$work/echo.wav" >/dev/null
sox "$signal" "$work/signal-250ms.wav" delay 11025s 11025s trim 0 "${signal_frames}s"
sox -m -v 1 "$signal" -v 1 "$work/signal-250ms.wav" "$work/echo-expected.wav"
check "delay 250 ms, level 1: the echo lands 11025 frames after the dry signal, at full level" \
    "$work/echo-expected.wav" "$work/echo.wav"

state="$work/gain.state"
"$tool" --program "Full Reset" --set "Output Gain=-24dB" --save-state "$state"
ardour_render gain "$state" "$signal" "$work/gain.wav" >/dev/null
sox -v 0.0630957344480193 "$signal" "$work/gain-expected.wav"
check "Output Gain -24 dB: the output is the input 24 dB down" "$work/gain-expected.wav" "$work/gain.wav"
rms() { sox "$1" -n stats 2>&1 | awk '/^RMS lev dB/ { print $4 }'; }
say "  RMS level (both channels): $(rms "$signal") dB in, $(rms "$work/gain.wav") dB out"

# Check 4: a factory program on a voice (the right channel quieter and 11 ms late), with 4 s of
# silence after it for the echoes.
state="$work/program.state"
"$tool" --program "$program" --save-state "$state"
input="$work/input.wav"
sox -D "$root/examples/voice.wav" -r "$rate" -e floating-point -b 32 "$input" \
    remix 1 1v0.8 delay 0 0.011 pad 0 "$tail_seconds"
frames=$(soxi -s "$input")
say "\"$program\" on $(soxi -d "$input") of stereo voice"
host="$work/ardour.wav"
tempo=$(ardour_render program "$state" "$input" "$host")
[ -n "$tempo" ] || die "no tempo in the session"

# How far the plug-in had run before the export: the preroll whose render of the first second
# matches the host's best, found coarse to fine (past the right number the error grows smoothly
# with the distance; below it the doubler's sweep is simply wrong).
excerpt="$work/excerpt.wav"
host_excerpt="$work/ardour-excerpt.wav"
# The input excerpt runs a little longer: the last frames of a render depend on input after them
# (the de-esser's linear-phase filters look ahead), so only the first second is compared.
sox "$input" "$excerpt" trim 0 1.1
sox -V1 "$host" "$host_excerpt" trim 0 1
trial() {
    local out="$work/trials/$1.wav"
    "$tool" -q --no-progress --state "$state" --tempo "$tempo" --tail 0 --preroll "$1" "$excerpt" "$out"
    "$compare" --tolerance 1 "$out" "$host_excerpt" | awk -v k="$1" '{ print $3, k }'
    rm -f "$out"
}
export -f trial
export tool compare state tempo excerpt host_excerpt work
jobs=$(nproc 2>/dev/null || echo 2)
search() { # FROM TO STEP -> the best preroll
    seq "$(( $1 < 0 ? 0 : $1 ))" "$3" "$2" | xargs -P "$jobs" -I{} bash -c 'trial {}' | sort -g | awk 'NR == 1 { print $2 }'
}
preroll=$(search 0 $((8 * rate)) 256)
preroll=$(search $((preroll - 256)) $((preroll + 256)) 16)
preroll=$(search $((preroll - 16)) $((preroll + 16)) 1)
say "Ardour ran the plug-in for $preroll frames before the export"

# The same through pellucer-render, and the comparison.
ours="$work/pellucer-render.wav"
"$tool" --no-progress --state "$state" --tempo "$tempo" --tail 0 --preroll "$preroll" "$input" "$ours" >/dev/null
checks=$((checks + 1))
result=$("$compare" --tolerance "$tolerance" "$ours" "$host") && status=0 || status=$?
if [ "$status" -eq 0 ]; then
    say "passed: \"$program\": pellucer-render and the plug-in in Ardour agree within $tolerance"
else
    say "FAILED: \"$program\": the renders differ by more than $tolerance (files in $work)"
    failures=$((failures + 1))
fi
say "  $result"

# Checks 5-7: the LV2 plug-in on the test signal; its ports take the values in their own units
# (parameter numbers as in the VST module: 28 Delay Enable, 30 Delay Time, 38 the module order).
ardour_render lv2-full-reset "lv2:" "$signal" "$work/lv2-full-reset.wav" >/dev/null
check "LV2: at Full Reset the output equals the input, aligned" "$signal" "$work/lv2-full-reset.wav"
ardour_render lv2-echo "lv2:28=1,30=250,31=0,32=0,33=0,34=22000" "$signal" "$work/lv2-echo.wav" >/dev/null
check "LV2: delay 250 ms, level 0 dB: the echo lands 11025 frames after the dry signal, at full level" \
    "$work/echo-expected.wav" "$work/lv2-echo.wav"

# The module order: a session saved with 54321 is exported (Ardour opens it again to do so), and
# opened once more to read the order back. The stages chosen sound different in another order,
# and hardly amplify the anti-denormal noise, whose phase follows how long Ardour ran the plug-in
# before the export (check 4 finds that; here it moves the result by less than 1e-6).
ardour_render lv2-order "lv2:4=1,5=-20,10=1,11=70,13=1,18=6,28=1,30=120,31=-6,38=54321" \
    "$signal" "$work/lv2-order.wav" >/dev/null
cat >"$work/lv2-reopen.lua" <<LUA
AudioEngine:set_backend("None (Dummy)", "", "")
local s = load_session("$work/lv2-order", "lv2-order")
assert(s, "the session does not open")
for route in s:get_routes():iter() do
  local plugin = route:nth_plugin(0)
  if not plugin:isnil() then print("module order", (ARDOUR.LuaAPI.get_processor_param(plugin, 38, true))) end
end
close_session()
LUA
reopened=$(ardour7-lua "$work/lv2-reopen.lua" 2>&1 | awk '$1 == "module" && $2 == "order" { print $3 + 0 }')
checks=$((checks + 1))
if [ "$reopened" = 54321 ]; then
    say "passed: LV2: the session saved with the module order 54321 reopens with it"
else
    say "FAILED: LV2: the session saved with the module order 54321 reopens with \"$reopened\""
    failures=$((failures + 1))
fi
order_settings=(--set "Compander Enable=On" --set "Compressor Thresh=-20dB" --set "EQ Enable=On"
    --set "EQ Tube Saturation=70%" --set "EQ Tube Mid Enable=On" --set "EQ Mid Gain=6dB"
    --set "Delay Enable=On" --set "Delay Time=120ms" --set "Delay Level=-6dB")
"$tool" -q --no-progress --tail 0 "${order_settings[@]}" --order 54321 "$signal" "$work/order-54321.wav"
"$tool" -q --no-progress --tail 0 "${order_settings[@]}" "$signal" "$work/order-12345.wav"
"$compare" --offset 0 --tolerance 1e-3 "$work/order-54321.wav" "$work/order-12345.wav" >/dev/null &&
    die "the stages chosen for the order check sound the same in both orders"
check "LV2: the reopened session sounds as pellucer-render in the order 54321" \
    "$work/order-54321.wav" "$work/lv2-order.wav" "$tolerance"

if [ "$failures" -eq 0 ]; then
    say "PASSED: all $checks checks"
else
    say "FAILED: $failures of $checks checks"
    exit 1
fi
