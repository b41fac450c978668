#!/usr/bin/env bash
# Host check: one factory program rendered by the plug-in inside a real host (Ardour 7, headless)
# and by pellucer-render at the same settings and sample rate; the two files must agree sample for
# sample within 1e-5.
#
#   tools/host-check.sh [BUILD_DIR] [MODULE_DIR]
#
# BUILD_DIR (default build/release) holds tools/pellucer-render and tools/pellucer-compare;
# MODULE_DIR (default dist/linux-x86_64) holds Pellucer.so with Resources/ beside it.
# HOST_CHECK_PROGRAM picks the program (default "Female Quartet": compander, equaliser,
# de-esser, doubler and a free-running delay, in the default module order).
#
# How the host side is built (Ardour's Lua API cannot import audio without its GUI):
#   1. pellucer-render saves the program's state; a stereo float input is made from
#      examples/voice.wav (the right channel quieter and 11 ms late) with 4 s of silence after it
#      for the echoes, since Ardour renders exactly the session's length.
#   2. ardour7-lua creates a 44.1 kHz session with one stereo track, inserts the plug-in and sets
#      parameters 0-37 to the state's values (the Lua call takes normalised values only; the
#      module order, parameter 38, is written into the saved session instead).
#   3. The saved session is edited: the input as the track's region, the session range, panners
#      bypassed so that the master bus passes both channels unchanged.
#   4. ardour7-export renders the master bus (Ardour compensates the plug-in's latency).
#   5. Ardour runs the plug-in for a couple of seconds before the export starts, and the
#      doubler's sweep follows the frames processed since the plug-in was created. The check
#      finds that number (pellucer-render --preroll, tried on the first second, coarse to fine)
#      and then compares the whole file.
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
work="$root/build/host-check"
name="pellucer-check"
rate=44100
tolerance=1e-5
tail_seconds=4

say() { echo "host-check: $*"; }
die() { echo "host-check: $*" >&2; exit 1; }

for file in "$tool" "$compare" "$module"; do
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
export XDG_CONFIG_HOME="$work/xdg-config" XDG_CACHE_HOME="$work/xdg-cache" LXVST_PATH="$modules"

# 1. The state and the input.
state="$work/program.state"
"$tool" --program "$program" --save-state "$state"
order=$("$tool" --state "$state" --list-params | awk '$1 == 38 { print $3 }')
input="$work/input.wav"
sox -D "$root/examples/voice.wav" -r "$rate" -e floating-point -b 32 "$input" \
    remix 1 1v0.8 delay 0 0.011 pad 0 "$tail_seconds"
frames=$(soxi -s "$input")
say "\"$program\" (module order $order) on $(soxi -d "$input") of stereo voice at $rate Hz"

# 2. Ardour's index of the plug-in (rebuilt every time: a stale entry hides a rebuilt module),
#    then the session.
#    Ardour does not trust an index entry made in the same second as the module's last change
#    (a freshly copied module): wait until the module is a little older than the scan.
while [ $(($(date +%s) - $(stat -c %Y "$module"))) -lt 2 ]; do sleep 1; done
LD_LIBRARY_PATH="$ardour_lib" "$ardour_lib/ardour-vst-scanner" -f "$module" >"$work/scan.log" 2>&1 ||
    die "Ardour's scanner failed on $module (see $work/scan.log)"
session="$work/$name"
cat >"$work/make-session.lua" <<EOF
local f = assert(io.open("$state", "rb"))
local chunk = f:read("a")
f:close()
assert(#chunk == 4852, "the state file is not a state chunk")
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session("$session", "$name", $rate)
assert(s, "no session")
local track = s:new_audio_track(2, 2, nil, 1, "Voice", ARDOUR.PresentationInfo.max_order,
                                ARDOUR.TrackMode.Normal, true):front()
local plugin = ARDOUR.LuaAPI.new_plugin(s, "Pellucer", ARDOUR.PluginType.LXVST, "")
assert(not plugin:isnil(), "Ardour did not find the plug-in Pellucer")
track:add_processor_by_index(plugin, 0, nil, true)
-- The 39 values of the chunk start at byte 4696 (little-endian floats); 38 is the order code.
for i = 0, 37 do
  local v = string.unpack("<f", chunk, 4696 + 4 * i + 1)
  assert(ARDOUR.LuaAPI.set_processor_param(plugin, i, v), "parameter " .. i)
end
print("plug-in latency", plugin:signal_latency())
s:save_state("")
close_session()
EOF
ardour7-lua "$work/make-session.lua" >"$work/session.log" 2>&1 || die "ardour7-lua failed (see $work/session.log)"
grep -q "plug-in latency" "$work/session.log" || die "the session was not built (see $work/session.log)"
say "Ardour: $(grep "plug-in latency" "$work/session.log")"
# The synced delay takes its time from the host's tempo: the session's (120 BPM when new) is
# handed to pellucer-render.
tempo=$(grep -o '<Tempo npm="[0-9.]*"' "$session/$name.ardour" | head -1 | sed 's/.*npm="//; s/"$//')
[ -n "$tempo" ] || die "no tempo in the session"

# 3. The input as the track's region and the session range. Times are superclock ticks
#    (282,240,000 a second); a length is written a<ticks>@a<position>.
mkdir -p "$session/interchange/$name/audiofiles"
cp "$input" "$session/interchange/$name/audiofiles/input.wav"
ticks=$((frames * 282240000 / rate))
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
# Panners pass the channels straight through; the module order goes in as the raw code.
xml="${xml//<PannerShell bypassed=\"0\"/<PannerShell bypassed=\"1\"}"
xml="$(printf '%s\n' "$xml" | sed -E "s/param-38=\"[0-9.]+\"/param-38=\"$order\"/; \
    s/(<Controllable name=\"Reserved\" [^>]*value=\")[0-9.]+\"/\1$order\"/")"
printf '%s\n' "$xml" >"$session/$name.ardour"

# 4. The host's render.
host="$work/ardour.wav"
ardour7-export -b float -o "$host" "$session" "$name" >"$work/export.log" 2>&1 ||
    die "ardour7-export failed (see $work/export.log)"
[ -s "$host" ] || die "ardour7-export wrote nothing (see $work/export.log)"

# 5. How far the plug-in had run before the export: the preroll whose render of the first second
#    matches the host's best, found coarse to fine (past the right number the error grows
#    smoothly with the distance; below it the doubler's sweep is simply wrong).
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

# 6. The same through pellucer-render, and the comparison.
ours="$work/pellucer-render.wav"
"$tool" --no-progress --state "$state" --tempo "$tempo" --tail 0 --preroll "$preroll" "$input" "$ours" >/dev/null
result=$("$compare" --tolerance "$tolerance" "$ours" "$host") && status=0 || status=$?
say "$result"
if [ "$status" -eq 0 ]; then
    say "PASSED: pellucer-render and the plug-in in Ardour agree within $tolerance"
else
    say "FAILED: the renders differ by more than $tolerance (files in $work)"
    exit 1
fi
