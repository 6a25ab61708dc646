#!/bin/sh
# Builds everything and runs the whole suite: the Linux build, the sanitizer
# build, the fuzzers (a bounded run each), and the Windows DLLs with their
# checks under Wine.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh

status=0
run() {
    echo "== $*"
    "$@" || status=1
}

for preset in linux asan fuzz; do
    run cmake --preset "$preset" >/dev/null
    run cmake --build --preset "$preset"
done
for preset in win64 win32; do
    run cmake --preset "$preset" >/dev/null
    run cmake --build --preset "$preset"
done

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
run ctest --test-dir build --output-on-failure -j2
run ctest --test-dir build-asan --output-on-failure -j2
# One fuzzer at a time: each already keeps a core busy.
run ctest --test-dir build-fuzz --output-on-failure -j1
run sh scripts/demo.sh >/dev/null

exit $status
