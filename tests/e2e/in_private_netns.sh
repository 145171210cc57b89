#!/bin/bash
# Runs a command inside a network namespace of its own that holds only the loopback interface,
# carrying the network module functions' fixed host address 192.168.1.54 and a route for the
# limited broadcast. A broadcast sent in it loops back to listeners in the same namespace and
# nowhere else; the namespace goes with the process.
#
# Usage: in_private_netns.sh <command> [arguments...]
set -euo pipefail

readonly kSkip=77

if [[ "${1:-}" != "--inside" ]]; then
    if ! unshare --net true 2>/dev/null; then
        echo "SKIPPED: network namespaces cannot be made here (needs root or user namespaces)"
        exit "$kSkip"
    fi
    exec unshare --net -- "$0" --inside "$@"
fi
shift

ip link set lo up
ip address add 192.168.1.54/24 dev lo
ip route add 255.255.255.255/32 dev lo src 192.168.1.54
export ZENDRIK_E2E_PRIVATE_NETNS=1
exec "$@"
