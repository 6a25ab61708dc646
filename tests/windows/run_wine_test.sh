#!/bin/sh
# Runs the Windows test program against Sorlink64.dll under wine64, in a
# Wine prefix created for this run and removed afterwards, with a Linux
# printer behind a COM port (a pseudo-terminal), a TCP and a UDP port.
#
#   run_wine_test.sh <build-win64 dir> <exports.txt> <version> <printer_peer> [bridge]
#
# With "bridge", Sorjni.dll is driven too, through a hand-made JNI
# environment, against the same TCP printer.
# SORLINK_WINE_KEEP=1 keeps the prefix, the log and what the printer
# received. Mono and Gecko are disabled (nothing here needs .NET or HTML), every Wine
# step is bounded in time, and the prefix's wineserver is stopped at the end.
set -eu

windows_build=$1
exports=$2
version=$3
peer=$4
with_bridge=${5:-}

if [ ! -f "$windows_build/CMakeCache.txt" ]; then
    echo "SKIPPED: no Windows build in $windows_build" \
         "(cmake --preset win64 && cmake --build --preset win64)"
    exit 77
fi
bin="$windows_build/bin"
programs="$bin/Sorlink64.dll $bin/sorlink_wine_test.exe"
[ "$with_bridge" = bridge ] && programs="$programs $bin/Sorjni.dll $bin/sorjni_wine_test.exe"
for file in $programs; do
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
# The prefix's user folders (the bridge logs into Documents) stay in the
# throw-away folder instead of linking to the real home's.
export HOME="$work/home"
mkdir -p "$HOME"

peer_pid=""
cleanup() {
    timeout 20 wineserver -k >/dev/null 2>&1 || true
    [ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null
    if [ -n "${SORLINK_WINE_KEEP:-}" ]; then
        echo "kept $work"
    else
        rm -rf "$work"
    fi
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

"$peer" "$work" &
peer_pid=$!
waited=0
while [ ! -f "$work/peer.env" ] && [ $waited -lt 50 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
if [ ! -f "$work/peer.env" ]; then
    echo "FAIL: the Linux printer ($peer) did not start"
    exit 1
fi
. "$work/peer.env"

# COM5 is the pseudo-terminal: Wine maps COM names to devices through
# HKLM\Software\Wine\Ports and reads that key when its wineserver starts.
# The spooler's printers and Standard TCP/IP ports are what a Windows
# machine with a receipt printer on COM5 and a kitchen printer on the
# network would hold; COM9 is a listed port without a device.
cat >"$work/printers.reg" <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Wine\Ports]
"COM5"="$pty"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Receipt Printer]
"Port"="COM5:"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Kitchen Printer]
"Port"="IP_127.0.0.1_$tcp"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Monitors\Standard TCP/IP Port\Ports\IP_127.0.0.1_$tcp]
"IpAddress"="127.0.0.1"
"HostName"=""
"PortNumber"=dword:$(printf '%08x' "$tcp")
REG
cat >"$work/serialcomm.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Hardware\Devicemap\Serialcomm]
"\\Device\\Serial8"="COM9"
REG
timeout 60 wine reg import "$work/printers.reg" >/dev/null 2>&1 ||
    { echo "FAIL: wine reg import printers.reg"; exit 1; }
timeout 30 wineserver -k || true
timeout 60 wineserver -w || true
# The device map is volatile and rebuilt when the wineserver starts, so the
# extra port goes in after the restart.
timeout 60 wine reg import "$work/serialcomm.reg" >/dev/null 2>&1 ||
    { echo "FAIL: wine reg import serialcomm.reg"; exit 1; }

log="$work/layer.log"
status=0
timeout 120 wine "$bin/sorlink_wine_test.exe" "log=$(windows_path "$log")" \
    "exports=$(windows_path "$exports")" "version=$version" serial=COM5 extraport=COM9 \
    "serialprinter=Receipt Printer" "tcpprinter=Kitchen Printer" "tcp=$tcp" \
    "udp=$udp,$udpreply" "refused=$refused" || status=$?

if [ "$with_bridge" = bridge ]; then
    timeout 120 wine "$bin/sorjni_wine_test.exe" "tcp=$tcp" || status=$?
fi

# What reached the Linux side, byte for byte.
for channel in serial tcp udp; do
    if ! grep -q "Hello Printer 42" "$work/$channel.bin" 2>/dev/null; then
        echo "FAIL: the Linux printer received nothing over $channel"
        status=1
    fi
done

# The DLL wrote the log through its Windows path; it is the Linux file.
if ! grep -q "CreateCommunicationPort-  START" "$log" 2>/dev/null; then
    echo "FAIL: $log (written by the DLL as $(windows_path "$log")) holds no START line"
    status=1
fi

if [ $status -ne 0 ]; then
    echo "-- the end of the layer's log:"
    tail -n 80 "$log" 2>/dev/null | tr -d '\r'
    echo "FAIL: the Wine test failed (status $status)"
    exit 1
fi
echo "the Wine test passed"
