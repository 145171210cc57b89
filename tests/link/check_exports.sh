#!/usr/bin/env bash
# Usage: check_exports.sh <public header>... <shared library>
#
# The shared library exports exactly the functions its public headers declare. Compares the names
# declared with ZENDRIK_API in the headers with the symbols the library defines in its dynamic symbol
# table, and fails on a declared function that the library does not export as code, and on anything
# the library exports that the header does not declare (template code or type information of the
# C++ standard library leaking out of hidden visibility included).
set -euo pipefail

if [[ $# -lt 2 ]]; then
    echo "usage: $0 <header>... <library>" >&2
    exit 2
fi
headers=("${@:1:$#-1}")
library=${!#}

# Boundary symbols some linkers put in every dynamic symbol table; they are not exports of ours.
linker_symbols='^(_init|_fini|_edata|_end|__bss_start)$'

declared=$(cat "${headers[@]}" | grep -vE '^[[:space:]]*#' |
    grep -oE 'ZENDRIK_API[^(;]*\(' |
    sed -E 's/^.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/' |
    sort -u)
if [[ -z $declared ]]; then
    echo "no ZENDRIK_API function found in ${headers[*]}" >&2
    exit 2
fi

symbols=$(nm -D --defined-only "$library" | awk 'NF >= 3 { print $2, $3 }')
# Code: T (global), W (weak), i (indirect function).
exported_code=$(awk '$1 ~ /^[TWi]$/ { print $2 }' <<<"$symbols" | sort -u)
exported_all=$(awk '{ print $2 }' <<<"$symbols" | grep -vE "$linker_symbols" | sort -u || true)

missing=$(comm -23 <(echo "$declared") <(echo "$exported_code"))
extra=$(comm -13 <(echo "$declared") <(echo "$exported_all"))

status=0
if [[ -n $missing ]]; then
    echo "declared in the headers but not exported by $(basename "$library"):"
    sed 's/^/  /' <<<"$missing"
    status=1
fi
if [[ -n $extra ]]; then
    echo "exported by $(basename "$library") but not declared in the headers:"
    sed 's/^/  /' <<<"$extra"
    status=1
fi
if [[ $status -eq 0 ]]; then
    echo "$(wc -l <<<"$declared") functions declared and exported, nothing else exported"
fi
exit $status
