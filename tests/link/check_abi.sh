#!/usr/bin/env bash
# Usage: check_abi.sh <abidiff> <released ABI> <suppressions> <public headers dir> <library>
#
# The library's binary interface against the one of the released version 1 (an abidw description
# stored in packaging/abi): fails on a function removed or changed, and on a public struct changed
# other than by members added at its end. Added functions and grown structs are fine. Needs the
# library's debug information; without it the check is skipped (exit 77).
#
# The description was made from the released library built with -g:
#   abidw --drop-private-types --headers-dir include/zendrik libzendrik.so.1 >packaging/abi/libzendrik.so.1.abi
set -euo pipefail
if [[ $# -ne 5 ]]; then
    echo "usage: $0 <abidiff> <released ABI> <suppressions> <public headers dir> <library>" >&2
    exit 2
fi
abidiff=$1 released=$2 suppressions=$3 headers=$4 library=$5

if ! readelf -S --wide "$library" | grep -q '\.debug_info'; then
    echo "$library carries no debug information: nothing to compare" >&2
    exit 77
fi
if ! report=$("$abidiff" --no-added-syms --drop-private-types --headers-dir2 "$headers" \
    --suppressions "$suppressions" "$released" "$library"); then
    echo "$(basename "$library") breaks the binary interface of version 1:"
    echo "$report"
    exit 1
fi
echo "$(basename "$library") keeps the binary interface of version 1"
