#!/bin/bash
# End-to-end test of the exported FindDevice, ReadConfig and WriteConfig. They broadcast from
# 192.168.1.54:2000 to 255.255.255.255:5000, so they run only inside network namespaces made here:
#
#   [host namespace: lo, zdk-host 192.168.1.54/24] <--veth--> [module namespace: zdk-module 192.168.1.100/24]
#
# The host namespace is private to this script (unshare --net); the module namespace is held by a
# sleeping process. Both vanish with their processes, so nothing reaches the machine's own network.
#
# Usage: find_device_netns.sh <module responder> <client linked to libzendrik.so>
set -euo pipefail

readonly kSkip=77

if [[ "${1:-}" != "--inside" ]]; then
    if ! unshare --net true 2>/dev/null; then
        echo "SKIPPED: network namespaces cannot be made here (needs root or user namespaces); FindDevice not tested end to end"
        exit "$kSkip"
    fi
    exec unshare --net --fork -- "$0" --inside "$@"
fi

readonly responder="$2"
readonly client="$3"
readonly host_address=192.168.1.54
readonly module_address=192.168.1.100

holder=""
responder_pid=""
log="$(mktemp)"
cleanup() {
    [[ -n "$responder_pid" ]] && kill "$responder_pid" 2>/dev/null || true
    [[ -n "$holder" ]] && kill "$holder" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -f "$log"
}
trap cleanup EXIT

# Wait (up to about 5 s) for a condition, polling.
wait_for() {
    local tries=0
    until "$@"; do
        ((++tries > 100)) && return 1
        sleep 0.05
    done
}

# This process now lives in the private host namespace.
ip link set lo up

unshare --net sleep 120 &
holder=$!
own_namespace="$(readlink /proc/self/ns/net)"
module_namespace_ready() { [[ "$(readlink "/proc/$holder/ns/net" 2>/dev/null)" != "$own_namespace" ]]; }
wait_for module_namespace_ready || { echo "FAILED: module namespace did not come up"; exit 1; }
in_module() { nsenter --net="/proc/$holder/ns/net" "$@"; }

ip link add zdk-host type veth peer name zdk-module netns "$holder"
ip address add "$host_address/24" dev zdk-host
ip link set zdk-host up
# The limited broadcast has no route of its own: send it out through the veth.
ip route add 255.255.255.255/32 dev zdk-host src "$host_address"

in_module ip link set lo up
in_module ip address add "$module_address/24" dev zdk-module
in_module ip link set zdk-module up

# nsenter runs the responder in its own process, so its pid is the one to stop.
nsenter --net="/proc/$holder/ns/net" "$responder" >"$log" &
responder_pid=$!
responder_listening() { grep -q '^listening$' "$log"; }
wait_for responder_listening || { echo "FAILED: module responder did not start"; exit 1; }
# Duplicate address detection does not apply to IPv4, but the veth carrier takes a moment.
host_link_up() { ip link show zdk-host | grep -q 'state UP'; }
wait_for host_link_up || { echo "FAILED: veth did not come up"; exit 1; }

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
