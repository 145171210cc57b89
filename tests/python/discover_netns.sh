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
netns_use_work_directory
readonly work="$netns_work"

discovered() { "$python" -c 'import zendrik; print(zendrik.discover())'; }

# Before any module exists: nothing answers, which is an empty list, not a failure.
[[ "$(discovered)" == "[]" ]] || fail "discover() without modules gave $(discovered)"

netns_start_sim_module zdp 192.168.1.54 "$module_address" "$sim" "$module_id"

found="$(discovered)"
[[ "$found" == "[{'id': '$module_id', 'address': '$module_address'}]" ]] || fail "discover() gave $found"
echo "discover(): ok"
