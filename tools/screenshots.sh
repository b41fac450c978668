#!/usr/bin/env bash
# Screenshots of the editor: tools/screenshots.sh [WIN64_BUILD_DIR] [OUTPUT_DIR]
#
# Runs pellucer-screenshots (a small VST host, tools/screenshots/) under Wine with an X server
# of its own (cmake/wine-run.sh starts Xvfb): it loads the built Pellucer.dll, opens the editor,
# plays a sung vowel through it and captures each page and the About image. Then the DirectX
# property page, as a DirectX host shows it, from the test program (it draws the page with the
# editor in it). The pictures are turned into compressed PNGs in OUTPUT_DIR (default
# docs/screenshots).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/win64}" && pwd)"
output="${2:-$root/docs/screenshots}"
prefix="$build/wineprefix"
wine_run="$root/cmake/wine-run.sh"
host="$build/tools/screenshots/pellucer-screenshots.exe"
tests="$build/tests/pellucer_tests.exe"
module="$build/vst/Pellucer.dll"
work="$build/screenshots"

for file in "$host" "$module" "$tests"; do
    [ -e "$file" ] || { echo "screenshots: $file not found (build $build first)" >&2; exit 1; }
done
command -v convert >/dev/null 2>&1 || { echo "screenshots: ImageMagick's convert is missing (make deps)" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work" "$output"
"$wine_run" "$prefix" --start
status=0
"$wine_run" "$prefix" "$host" "Z:$module" "Z:$work" || status=$?
if [ "$status" -eq 0 ]; then
    PELLUCER_SCREENSHOT_DIR="Z:$work" "$wine_run" "$prefix" "$tests" \
        --gtest_filter=PropertyPage.TheFiltersOwnPageShowsTheEditorOfItsEffect || status=$?
fi
"$wine_run" "$prefix" --stop
[ "$status" -eq 0 ] || { echo "screenshots: the host failed ($status)" >&2; exit 1; }

count=0
for picture in "$work"/*.bmp "$work"/*.png; do
    [ -e "$picture" ] || continue
    name="$(basename "$picture")"
    png="$output/${name%.*}.png"
    convert "$picture" -strip -define png:compression-level=9 "$png"
    echo "screenshots: $png"
    count=$((count + 1))
done
[ "$count" -eq 7 ] || { echo "screenshots: expected 7 pictures, got $count" >&2; exit 1; }
