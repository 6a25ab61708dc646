#!/bin/sh
# The main job, from a fresh clone: builds the library and its tools, starts
# the virtual printer on loopback, prints a sample receipt through the library
# with `sorlink send`, asks the printer for its status with `sorlink chat`,
# then shows what the printer received and the log the library wrote. The
# printer is stopped on every way out, and stops by itself after 40 seconds.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target sorlink sorlink_vprinter >/dev/null

bin=./build/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/sorlink-demo.XXXXXX")
printer=""
finish() {
    if [ -n "$printer" ]; then
        kill "$printer" 2>/dev/null || true
        wait "$printer" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 130' INT TERM

# The printer answers the status request DLE EOT 1 with one status byte.
"$bin/sorlink_vprinter" --tcp 0 --record "$work/received.bin" --reply "10 04 01=16" \
    --time-limit 40 >"$work/printer.out" 2>"$work/printer.err" &
printer=$!
tries=0
until grep -q '^ready$' "$work/printer.out" 2>/dev/null; do
    tries=$((tries + 1))
    if [ "$tries" -gt 50 ] || ! kill -0 "$printer" 2>/dev/null; then
        echo "demo: the virtual printer did not start" >&2
        cat "$work/printer.err" >&2
        exit 1
    fi
    sleep 0.1
done
port=$(awk '$1 == "tcp" { print $3 }' "$work/printer.out")
log="$work/sorlink.log"

echo "== virtual printer listening on 127.0.0.1:$port"
echo
show_log() {
    echo "== the log the library wrote ($log)"
    cat "$log"
}
echo "== \$ sorlink send --tcp 127.0.0.1:$port tools/samples/receipt.txt"
"$bin/sorlink" send --tcp "127.0.0.1:$port" --log "$log" tools/samples/receipt.txt || {
    show_log
    exit 1
}
echo
echo "== \$ sorlink chat --tcp 127.0.0.1:$port --hex \"10 04 01\" --count 1"
"$bin/sorlink" chat --tcp "127.0.0.1:$port" --log "$log" --hex "10 04 01" --count 1 || {
    show_log
    exit 1
}
echo
received=$(wc -c <"$work/received.bin" | tr -d ' ')
echo "== what the printer received ($received bytes)"
cat "$work/received.bin"
echo
if head -c "$(wc -c <tools/samples/receipt.txt)" "$work/received.bin" | cmp -s - tools/samples/receipt.txt; then
    echo "(the receipt arrived byte for byte, followed by the status request)"
else
    echo "demo: the printer did not receive the receipt as sent" >&2
    exit 1
fi
echo
show_log
