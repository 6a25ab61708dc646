#!/bin/sh
# Checks a Windows DLL built with mingw-w64, from the binary alone:
#   exports   <objdump> <dll> <names file>   the export table holds exactly these names
#   imports   <objdump> <dll> <allowed...>   every imported DLL is one of these (any case)
#   callconv  <objdump> <dll> <names file> <header>
#             32-bit DLL: each Vb twin returns with "ret 4*arguments" (the callee
#             removes its arguments) and each plain entry point with a plain "ret"
set -eu

check=$1
objdump=$2
dll=$3
shift 3

if ! command -v "$objdump" >/dev/null 2>&1; then
    echo "FAIL: $objdump not found (install binutils-mingw-w64: sh scripts/setup.sh)"
    exit 1
fi
if [ ! -f "$dll" ]; then
    echo "FAIL: $dll not found: build the Windows presets first" \
         "(cmake --preset win64 && cmake --build --preset win64, the same with win32)"
    exit 1
fi

exported_names() {
    "$objdump" -p "$dll" | awk '
        /^\[Ordinal\/Name Pointer\] Table/ { inTable = 1; next }
        inTable && /^[ \t]*\[ *[0-9]+\] / { print $NF; next }
        inTable { exit }'
}

case $check in
exports)
    expected=$(sort -u "$1")
    actual=$(exported_names | sort)
    if [ "$actual" = "$expected" ]; then
        echo "exports match: $(printf '%s\n' "$actual" | wc -l) names"
        exit 0
    fi
    echo "FAIL: the export table of $dll differs from $1 (< expected, > exported):"
    printf '%s\n' "$actual" | diff "$1" - || true
    exit 1
    ;;

imports)
    status=0
    for imported in $("$objdump" -p "$dll" | awk '/DLL Name:/ {print $3}'); do
        lower=$(printf '%s' "$imported" | tr 'A-Z' 'a-z')
        found=no
        for allowed in "$@"; do
            [ "$lower" = "$(printf '%s' "$allowed" | tr 'A-Z' 'a-z')" ] && found=yes
        done
        if [ $found = yes ]; then
            echo "imports $imported"
        else
            echo "FAIL: $dll imports $imported, which is not a system DLL"
            status=1
        fi
    done
    exit $status
    ;;

callconv)
    names=$1
    header=$2
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT

    # Argument list of every entry point in the header: "Name args".
    tr '\n' ' ' <"$header" | grep -o 'SORLINK_[A-Z]*CALL  *[A-Za-z0-9_]* *([^)]*)' |
        sed -e 's/^SORLINK_[A-Z]*CALL  *//' -e 's/ *(/ /' -e 's/)$//' >"$work/prototypes"

    # One line per function of the disassembly: "label|ret operands|jmp targets".
    "$objdump" -d --no-show-raw-insn "$dll" | awk '
        function flush() { if (label != "") print label "|" rets "|" jumps }
        /^[0-9a-f]+ <.*>:$/ {
            flush()
            label = $2; sub(/^</, "", label); sub(/>:$/, "", label)
            rets = ""; jumps = ""; next
        }
        /^ *[0-9a-f]+:\t/ {
            split($0, field, "\t"); instruction = field[2]
            if (instruction ~ /^ret/) {
                operand = instruction; sub(/^ret[lw]? */, "", operand); sub(/ +$/, "", operand)
                rets = rets "[" operand "]"
            } else if (instruction ~ /^jmp +[0-9a-f]+ <[^+>]+>/) {
                target = instruction; sub(/^[^<]*</, "", target); sub(/>.*$/, "", target)
                jumps = jumps " " target
            }
        }
        END { flush() }' >"$work/functions"

    # The returns of a function, following a tail jump when it has none.
    returns_of() {
        label=$1
        depth=0
        while [ $depth -lt 4 ]; do
            line=$(grep -F -m1 "$label|" "$work/functions" | grep "^$label|" || true)
            [ -n "$line" ] || return 1
            rets=$(printf '%s' "$line" | cut -d'|' -f2)
            if [ -n "$rets" ]; then
                printf '%s\n' "$rets"
                return 0
            fi
            label=$(printf '%s' "$line" | cut -d'|' -f3 | awk '{print $1}')
            [ -n "$label" ] || return 1
            depth=$((depth + 1))
        done
        return 1
    }

    status=0
    checked=0
    for name in $(cat "$names"); do
        arguments=$(awk -v name="$name" '$1 == name {$1 = ""; print; exit}' "$work/prototypes")
        if ! grep -q "^$name " "$work/prototypes" && ! grep -q "^$name\$" "$work/prototypes"; then
            echo "FAIL: $name is not declared in $header"
            status=1
            continue
        fi
        arguments=$(printf '%s' "$arguments" | sed 's/^ *//; s/ *$//')
        if [ -z "$arguments" ] || [ "$arguments" = "void" ]; then
            count=0
        else
            count=$(printf '%s' "$arguments" | awk -F, '{print NF}')
        fi
        case $name in
        Vb*)
            bytes=$((count * 4))
            symbol="_$name@$bytes"
            if [ $bytes -eq 0 ]; then expected="[]"; else expected="[\$0x$(printf '%x' $bytes)]"; fi
            ;;
        *)
            symbol="_$name"
            expected="[]"
            ;;
        esac
        if ! rets=$(returns_of "$symbol"); then
            echo "FAIL: no function $symbol with a return in $dll ($name takes $count arguments)"
            status=1
            continue
        fi
        wrong=$(printf '%s' "$rets" | sed 's/\]\[/]\n[/g' | grep -v -F -x "$expected" || true)
        if [ -n "$wrong" ]; then
            echo "FAIL: $name ($symbol, $count arguments) returns with ret $(printf '%s' "$wrong" | tr '\n' ' ')" \
                 "instead of ret $expected"
            status=1
        fi
        checked=$((checked + 1))
    done
    [ $status -eq 0 ] && echo "calling conventions match: $checked entry points"
    exit $status
    ;;

*)
    echo "usage: $0 exports|imports|callconv <objdump> <dll> ..." >&2
    exit 2
    ;;
esac
