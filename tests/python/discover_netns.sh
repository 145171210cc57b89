#!/bin/bash
# zendrik.discover() end to end. It broadcasts from 192.168.1.54:2000 to 255.255.255.255:5000, so it
# runs only inside network namespaces made here, with the virtual reader's network module behind a
# veth pair (tests/support/netns_pair.sh); nothing reaches the machine's own network. The package
# and the library come from the environment CTest sets (PYTHONPATH, ZENDRIK_LIBRARY).
#
# Usage: discover_netns.sh <python3> <zendrik-sim>
set -euo pipefail

source "$(dirname "$0")/../support/netns_pair.sh"
netns_enter_private " (the search for network modules is not run)" "$@"

readonly python="$2"
readonly sim="$3"
readonly module_address=192.168.1.100
readonly module_id=5a44524b0042

sim_pid=""
work="$(mktemp -d)"
cleanup() {
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    netns_stop
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    exit 1
}

discovered() { "$python" -c 'import zendrik; print(zendrik.discover())'; }

# Before any module exists: nothing answers, which is an empty list, not a failure.
[[ "$(discovered)" == "[]" ]] || fail "discover() without modules gave $(discovered)"

netns_join_module zdp 192.168.1.54 "$module_address"
nsenter --net="$netns_module" "$sim" --module 0.0.0.0:5000 --module-id "$module_id" \
    --hid-socket "$work/hid" >"$work/sim.out" 2>/dev/null &
sim_pid=$!
sim_listening() { grep -q '^ZENDRIK_SIM_MODULE=' "$work/sim.out"; }
wait_for sim_listening || fail "the virtual reader's module did not start"
netns_wait_link_up zdp

found="$(discovered)"
[[ "$found" == "[{'id': '$module_id', 'address': '$module_address'}]" ]] || fail "discover() gave $found"
echo "discover(): ok"
