#!/bin/sh
# CTest runs every GoogleTest case through this script (pellucer_discover_gtests() in Pellucer.cmake):
#
#   gtest-check.sh [EMULATOR...] TEST_PROGRAM [GTEST_ARGS...]
#
# An exit status of 0 proves nothing on its own: a 32-bit .exe started by wine64 exits 0
# without running anything, and so does a main() that never reaches RUN_ALL_TESTS(). A case
# therefore passes only when the program exits 0, GoogleTest printed its "[  PASSED  ]"
# summary for at least one test (or "[  SKIPPED ]" for a GTEST_SKIP), and nothing "[  FAILED  ]".
#
# With --gtest_list_tests (test discovery) the listing must name at least one test. Windows
# programs end their lines with CR LF; the listing is passed on with LF only, which is what
# CMake's discovery parser understands.
set -u

[ $# -ge 1 ] || { echo "usage: $0 [EMULATOR...] TEST_PROGRAM [ARGS...]" >&2; exit 2; }

listing=0
for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && listing=1
done

if [ "$listing" = 1 ]; then
    # stderr stays apart so that nothing but GoogleTest's listing reaches the parser.
    output=$("$@")
    status=$?
    output=$(printf '%s\n' "$output" | tr -d '\r')
    printf '%s\n' "$output"
    if [ "$status" -ne 0 ]; then
        echo "gtest-check: listing the tests of $* failed with exit status $status" >&2
        exit 1
    fi
    if ! printf '%s\n' "$output" | grep -q '^  [^ ]'; then
        echo "gtest-check: $* listed no test (not a GoogleTest program, or it never ran)" >&2
        exit 1
    fi
    exit 0
fi

output=$("$@" 2>&1)
status=$?
# A program that failed before GoogleTest printed its first banner line never ran a test: under
# Wine that is the emulator failing to start it (seen rarely while another program starts the
# prefix's servers). Such a start is tried once more; a run that reached the tests never is.
if [ "$status" -ne 0 ] && ! printf '%s\n' "$output" | grep -q '^\[==========\]'; then
    echo "gtest-check: the program did not start (exit status $status); trying once more" >&2
    output=$("$@" 2>&1)
    status=$?
fi

fail() {
    # A failed run must not look skipped to CTest's SKIP_REGULAR_EXPRESSION.
    printf '%s\n' "$output" | sed 's/^\[  SKIPPED \]/[  skipped ]/'
    echo "gtest-check: $1" >&2
    exit 1
}

count() {
    printf '%s\n' "$output" | sed -n "s/^\[  $1 *\] \([0-9][0-9]*\) tests\{0,1\}[,.].*/\1/p" | head -n 1
}

[ "$status" -eq 0 ] || fail "exit status $status"
if printf '%s\n' "$output" | grep -q '^\[  FAILED  \]'; then
    fail "GoogleTest reported a failure"
fi
passed=$(count PASSED)
skipped=$(count SKIPPED)
[ -n "$passed" ] || fail "no '[  PASSED  ]' summary from GoogleTest: the program did not run its tests"
[ "$passed" -gt 0 ] || [ "${skipped:-0}" -gt 0 ] || fail "GoogleTest ran no test"

printf '%s\n' "$output"
exit 0
