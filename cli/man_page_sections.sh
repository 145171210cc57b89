#!/bin/sh
# Usage: man_page_sections.sh PROGRAM STATIC_SECTIONS OUTPUT
#
# Writes help2man's include file for the zendrik manual page: the hand-written sections, then one
# subsection per subcommand holding that subcommand's --help text, so the manual page documents
# every subcommand from the program itself.
set -eu
program=$1
static=$2
output=$3

{
    cat "$static"
    echo "[SUBCOMMANDS]"
    for subcommand in info config set default read discover; do
        echo ".SS $subcommand"
        echo ".nf"
        # roff: backslashes doubled, a leading dot or quote escaped.
        "$program" "$subcommand" --help | sed -e 's/\\/\\\\/g' -e "s/^\([.']\)/\\\\\&\1/"
        echo ".fi"
    done
} >"$output"
