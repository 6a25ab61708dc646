#!/bin/sh
# Compares the dynamic symbols a shared library defines with a list of names,
# and checks that the library binds its own calls of those names inside it:
# a relocation against one of them would let a program's function of the
# same name take the place of the library's own.
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwiDdBbVv]$/ {print $3}' \
         | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | sort -u)
if [ "$actual" != "$(sort -u "$expected")" ]; then
    echo "exported symbols differ from $expected:"
    printf '%s\n' "$actual" | diff "$expected" - || true
    exit 1
fi
bound=$(readelf -rW "$library" | awk 'NF >= 5 {sub(/@.*/, "", $5); print $5}' \
        | grep -x -F -f "$expected" | sort -u || true)
if [ -n "$bound" ]; then
    echo "calls bound through the dynamic symbol table:"
    printf '%s\n' "$bound"
    exit 1
fi
echo "exports match: $(printf '%s\n' "$actual" | wc -l) names, none bound through the symbol table"
