#!/bin/sh
# Checks a Windows DLL built with mingw-w64, from the binary alone:
#   exports   <objdump> <dll> <names file>   the export table holds exactly these names
#   imports   <objdump> <dll> <allowed...>   every imported DLL is one of these (any case)
#   xp-imports <objdump> <dll> <allowlist>   every imported function is listed with a
#             minimum client of Windows 2000 or XP, and the header asks for no newer
#             Windows than XP (5.1; 5.2 for x64, whose first Windows is XP x64)
#   callconv  <objdump> <dll> <names file> <header>
#             32-bit DLL: each Vb twin returns with "ret 4*arguments" (the callee
#             removes its arguments) and each plain entry point with a plain "ret"
#   frees-pool <objdump> <dll>
#             DllMain calls __gnu_cxx::__freeres, which frees the C++ run time's
#             emergency exception pool that each load allocates
set -eu

check=$1
objdump=$2
dll=$3
shift 3

# A tree built for Linux only (the README's "Building by hand") has no
# Windows build beside it: the check is skipped (77) and says why. A Windows
# build that exists but lacks the DLL still fails.
windows_build=$(dirname "$(dirname "$dll")")
if [ ! -f "$windows_build/CMakeCache.txt" ]; then
    echo "SKIPPED: no Windows build in $windows_build (cmake --preset win64 &&" \
         "cmake --build --preset win64, the same with win32)"
    exit 77
fi

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

xp-imports)
    status=0
    # "dll function" for each import by name; a blank line ends each DLL's list.
    imported=$("$objdump" -p "$dll" | awk '
        /DLL Name:/ { name = tolower($3); next }
        /^[ \t]*$/ { name = "" }
        name != "" && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print name, $3 }')
    if [ -z "$imported" ]; then
        echo "FAIL: no imports read from $dll"
        exit 1
    fi
    printf '%s\n' "$imported" | awk -v list="$1" -v dll="$dll" '
        BEGIN {
            while ((getline line < list) > 0) {
                if (line ~ /^#/ || split(line, field, " ") < 3) continue
                key = tolower(field[1]) " " field[2]
                sub(/^[^ ]+ +[^ ]+ +/, "", line)
                minimum[key] = line
            }
        }
        !($1 " " $2 in minimum) {
            print "FAIL: " dll " imports " $1 " " $2 ", which " list " does not list"
            failed = 1
            next
        }
        minimum[$1 " " $2] !~ /^Windows (2000|XP)/ {
            print "FAIL: " $2 " needs " minimum[$1 " " $2] ", newer than Windows XP"
            failed = 1
        }
        END { exit failed }' || status=1
    # The loader of XP refuses an image that asks for a newer subsystem.
    case $("$objdump" -f "$dll") in
    *pei-x86-64*) newest=502 ;;
    *) newest=501 ;;
    esac
    for field in OSystem Subsystem; do
        version=$("$objdump" -p "$dll" | awk -v field="$field" '
            $1 == "Major" field "Version" { major = $2 }
            $1 == "Minor" field "Version" { minor = $2 }
            END { print major * 100 + minor }')
        if [ "$version" -gt $newest ]; then
            echo "FAIL: $dll asks for $field version $version (newest allowed: $newest)"
            status=1
        fi
    done
    [ $status -eq 0 ] &&
        echo "imports available on Windows XP: $(printf '%s\n' "$imported" | wc -l) functions"
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

frees-pool)
    # The disassembly of DllMain (_DllMain@12 in a 32-bit DLL), up to the next function.
    calls=$("$objdump" -d --no-show-raw-insn "$dll" | awk '
        /^[0-9a-f]+ <(_DllMain@12|DllMain)>:$/ { inside = 1; next }
        inside && /^[0-9a-f]+ <.*>:$/ { exit }
        inside && /call/ { print }')
    if [ -z "$calls" ]; then
        echo "FAIL: no DllMain with calls in the disassembly of $dll"
        exit 1
    fi
    if ! printf '%s\n' "$calls" | grep -q '__gnu_cxx9__freeres'; then
        echo "FAIL: DllMain of $dll never calls __gnu_cxx::__freeres: every FreeLibrary leaves" \
             "the emergency exception pool on the heap"
        exit 1
    fi
    echo "DllMain frees the emergency exception pool"
    exit 0
    ;;

*)
    echo "usage: $0 exports|imports|xp-imports|callconv|frees-pool <objdump> <dll> ..." >&2
    exit 2
    ;;
esac
