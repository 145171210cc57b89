#!/bin/sh
# Usage: man_page_width.sh PAGE
#
# The manual page as man shows it on an 80-column terminal: no line wider than the terminal (the
# subcommands' help texts are pasted into it). Exit 77 (skipped) without man.
set -eu
command -v man >/dev/null || exit 77
width=80
shown=$(MANWIDTH=$width man -l "$1" 2>/dev/null)
[ -n "$shown" ] || { echo "FAIL: man shows nothing of $1" >&2; exit 1; }
wide=$(printf '%s\n' "$shown" | awk -v width="$width" 'length > width')
if [ -n "$wide" ]; then
    printf 'FAIL: lines wider than %s columns:\n%s\n' "$width" "$wide" >&2
    exit 1
fi
echo "$(printf '%s\n' "$shown" | wc -l) lines, none wider than $width columns"
