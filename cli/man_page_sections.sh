#!/bin/sh
# Usage: man_page_sections.sh PROGRAM STATIC_SECTIONS OUTPUT
#
# Writes help2man's include file for the zendrik manual page: the hand-written sections, then one
# subsection per subcommand holding that subcommand's --help text, so the manual page documents
# every subcommand from the program itself. The help texts come unfilled (one line a paragraph):
# they are wrapped here to fit an 80-column page beside the subsection's indent, an option's
# description going on under its own column.
set -eu
program=$1
static=$2
output=$3
width=72
# Where CLI11 puts an option's description.
description_column=30

wrap() {
    awk -v width="$width" -v column="$description_column" '
        function spaces(n,    text) {
            text = ""
            while (length(text) < n) text = text " "
            return text
        }
        length($0) <= width { print; next }
        {
            match($0, /^ */)
            indent = RLENGTH
            if ($0 ~ /^  -/ && substr($0, column, 1) == " " && substr($0, column + 1, 1) != " ") indent = column
            line = substr($0, 1, indent)
            rest = substr($0, indent + 1)
            count = split(rest, words, " ")
            filled = indent
            for (i = 1; i <= count; i++) {
                if (words[i] == "") { line = line " "; filled++; continue }
                if (filled > indent && filled + length(words[i]) > width) {
                    sub(/ +$/, "", line)
                    print line
                    line = spaces(indent)
                    filled = indent
                }
                line = line words[i] " "
                filled += length(words[i]) + 1
            }
            sub(/ +$/, "", line)
            print line
        }'
}

{
    cat "$static"
    echo "[SUBCOMMANDS]"
    for subcommand in info config set default read discover; do
        echo ".SS $subcommand"
        echo ".nf"
        # roff: backslashes doubled, a leading dot or quote escaped.
        "$program" "$subcommand" --help | wrap | sed -e 's/\\/\\\\/g' -e "s/^\([.']\)/\\\\\&\1/"
        echo ".fi"
    done
} >"$output"
