#!/bin/sh
# Runs the Windows test program against Sorlink64.dll under wine64, in a
# Wine prefix created for this run and removed afterwards.
#
#   run_wine_test.sh <build-win64 dir> <exports.txt>
#
# Mono and Gecko are disabled (nothing here needs .NET or HTML), every Wine
# step is bounded in time, and the prefix's wineserver is stopped at the end.
set -eu

windows_build=$1
exports=$2

bin="$windows_build/bin"
for file in "$bin/Sorlink64.dll" "$bin/sorlink_wine_test.exe"; do
    if [ ! -f "$file" ]; then
        echo "FAIL: $file not found: build the win64 preset first" \
             "(cmake --preset win64 && cmake --build --preset win64)"
        exit 1
    fi
done
if ! command -v wine >/dev/null 2>&1; then
    echo "FAIL: wine not found (install wine64: sh scripts/setup.sh)"
    exit 1
fi

work=$(mktemp -d /tmp/sorlink-wine.XXXXXX)
export WINEPREFIX="$work/prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEARCH=win64

cleanup() {
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Wine sees the Linux root as drive Z:.
windows_path() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

echo "creating the Wine prefix $WINEPREFIX"
if ! timeout 180 wineboot --init >"$work/wineboot.out" 2>&1; then
    cat "$work/wineboot.out"
    echo "FAIL: wineboot --init did not complete"
    exit 1
fi
timeout 60 wineserver -w || true

log="$work/layer.log"
status=0
timeout 120 wine "$bin/sorlink_wine_test.exe" "log=$(windows_path "$log")" \
    "exports=$(windows_path "$exports")" || status=$?

# The DLL wrote the log through its Windows path; it is the Linux file.
if ! grep -q "CreateCommunicationPort-  START" "$log" 2>/dev/null; then
    echo "FAIL: $log (written by the DLL as $(windows_path "$log")) holds no START line"
    status=1
fi

if [ $status -ne 0 ]; then
    echo "FAIL: the Wine test failed (status $status)"
    exit 1
fi
echo "the Wine test passed"
