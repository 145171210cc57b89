#!/usr/bin/env bash
# Usage: check_layers.sh <source root>
#
# Layers point down only: the helpers below every layer (base/) include nothing of the project but
# themselves, the protocol layers (link/, commands/, netmodule/) and the rules (rules/) include no
# public header, and the shipped configuration tool (tool/) nothing of the virtual reader (sim/).
# Fails naming every include that points the wrong way.
set -euo pipefail
root=${1:?usage: $0 <source root>}
cd "$root"

status=0
report() {
    local pattern=$1 why=$2
    shift 2
    local found
    found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"<]($pattern)" "$@" || true)
    if [[ -n $found ]]; then
        echo "$why:"
        echo "$found"
        status=1
    fi
}
report 'zendrik|exports/|link/|commands/|netmodule/|rules/|session/|cli/|daemon/|tool/|sim/|python/|tests/' \
    "the project above the helpers below every layer" base
report 'exports/|zendrik\.h|zendrik_session\.h' "a public header below the exports" link commands netmodule rules
report 'sim/' "the virtual reader inside the shipped tool" tool
exit $status
