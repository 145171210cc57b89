#!/bin/bash
# End-to-end test of the exported FindDevice, ReadConfig and WriteConfig. They broadcast from
# 192.168.1.54:2000 to 255.255.255.255:5000, so they run only inside network namespaces made here:
#
#   [host namespace: lo, zdk-host 192.168.1.54/24] <--veth--> [module namespace: zdk-module 192.168.1.100/24]
#
# (tests/support/netns_pair.sh makes them; nothing reaches the machine's own network.)
#
# Usage: find_device_netns.sh <module responder> <client linked to libzendrik.so>
set -euo pipefail

source "$(dirname "$0")/../support/netns_pair.sh"
netns_enter_private "; FindDevice not tested end to end" "$@"

readonly responder="$2"
readonly client="$3"
readonly host_address=192.168.1.54
readonly module_address=192.168.1.100

responder_pid=""
log="$(mktemp)"
cleanup() {
    [[ -n "$responder_pid" ]] && kill "$responder_pid" 2>/dev/null || true
    netns_stop
    wait 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

netns_join_module zdk "$host_address" "$module_address"

# nsenter runs the responder in its own process, so its pid is the one to stop.
nsenter --net="$netns_module" "$responder" >"$log" &
responder_pid=$!
responder_listening() { grep -q '^listening$' "$log"; }
wait_for responder_listening || { echo "FAILED: module responder did not start"; exit 1; }
netns_wait_link_up zdk

status=0
"$client" || status=1

kill "$responder_pid" 2>/dev/null || true
wait "$responder_pid" 2>/dev/null || true
responder_pid=""

# Every request came from the fixed host endpoint to the broadcast address: 50 search probes
# (the module answers each), one read and one write of the settings, nothing else.
expect_requests() {
    local command="$1" expected="$2" seen
    seen="$(grep -c "^$command from $host_address:2000 to 255.255.255.255\$" "$log" || true)"
    if [[ "$seen" != "$expected" ]]; then
        echo "FAILED: $expected requests $command from $host_address:2000 to 255.255.255.255 expected, $seen seen"
        status=1
    fi
}
expect_requests 01 50
expect_requests 10 1
expect_requests 11 1
total="$(grep -vc '^listening$' "$log" || true)"
if [[ "$total" != 52 ]]; then
    echo "FAILED: 52 requests expected, $total seen:"
    cat "$log"
    status=1
fi
exit "$status"
