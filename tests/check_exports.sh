#!/bin/sh
# Compares the dynamic symbols a shared library defines with a list of names.
set -eu
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwiDdBbVv]$/ {print $3}' \
         | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' | sort -u)
if [ "$actual" = "$(sort -u "$expected")" ]; then
    echo "exports match: $(printf '%s\n' "$actual" | wc -l) names"
    exit 0
fi
echo "exported symbols differ from $expected:"
printf '%s\n' "$actual" | diff "$expected" - || true
exit 1
