#!/bin/sh
# Builds everything and runs the whole suite: the Linux build, the sanitizer
# build, the fuzzers (a bounded run each), the Windows DLLs with their
# checks under Wine, and the packages (an installed copy, the Debian package
# with lintian, the Windows zip; tools.* tests of the Linux build).
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh

status=0
broken=""
run() {
    echo "== $*"
    "$@" || { status=1; broken="$broken
  $*"; }
}

for preset in linux asan fuzz; do
    run cmake --preset "$preset" >/dev/null
    run cmake --build --preset "$preset"
done
for preset in win64 win32; do
    run cmake --preset "$preset" >/dev/null
    run cmake --build --preset "$preset"
done

# The main job must keep working from the same build.
echo "== sh scripts/demo.sh"
sh scripts/demo.sh >/dev/null || { status=1; broken="$broken
  sh scripts/demo.sh"; }

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
suite() {
    echo "== ctest $*"
    # tee hides ctest's status: the summary lines below decide.
    ctest "$@" --output-on-failure 2>&1 | tee -a "$summary"
}
suite --test-dir build -j2
suite --test-dir build-asan -j2
# One fuzzer at a time: each already keeps a core busy.
suite --test-dir build-fuzz -j1

# One closing line for the three suites together.
runs=$(grep -c 'tests failed out of' "$summary" || true)
total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$summary" | awk '{s += $1} END {print s + 0}')
failed=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$summary" | awk '{s += $1} END {print s + 0}')
[ "$runs" -eq 3 ] && [ "$failed" -eq 0 ] || status=1
echo "all suites: $((total - failed)) passed, $failed failed"
# A step that failed before the tests leaves tests unbuilt or stale, which
# the counts above cannot show.
[ -z "$broken" ] || echo "steps that failed:$broken"
exit $status
