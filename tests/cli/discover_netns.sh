#!/bin/bash
# zendrik discover end to end. It broadcasts from 192.168.1.54:2000 to 255.255.255.255:5000, so it
# runs only inside network namespaces made here, with the virtual reader's network module behind a
# veth pair:
#
#   [this namespace: lo, zdc-host 192.168.1.54/24] <--veth--> [module namespace: zdc-module 192.168.1.100/24]
#
# tests/support/netns_pair.sh makes them; nothing reaches the machine's own network.
#
# Usage: discover_netns.sh <zendrik> <zendrik-sim>
set -euo pipefail

source "$(dirname "$0")/../support/netns_pair.sh"
netns_enter_private "" "$@"

readonly zendrik="$2"
readonly sim="$3"
readonly host_address=192.168.1.54
readonly module_address=192.168.1.100
readonly module_id=5a44524b0042
netns_use_work_directory
readonly work="$netns_work"

# Before any module exists: the search finds nothing and says so.
set +e
"$zendrik" discover >"$work/none.out" 2>"$work/none.err"
none_status=$?
set -e
[[ $none_status -eq 1 ]] || fail "discover without modules exited with $none_status"
grep -qx 'zendrik: no network module answered (-16)' "$work/none.err" || fail "$(cat "$work/none.err")"

netns_start_sim_module zdc "$host_address" "$module_address" "$sim" "$module_id"

"$zendrik" discover >"$work/text.out" || fail "discover failed"
grep -qx "module 5a:44:52:4b:00:42  address $module_address" "$work/text.out" || fail "$(cat "$work/text.out")"
"$zendrik" --trace discover --json >"$work/json.out" 2>"$work/trace.err" || fail "discover --json failed"
tr -d ' \n' <"$work/json.out" | grep -qx "\[{\"module-id\":\"5a:44:52:4b:00:42\",\"address\":\"$module_address\"}\]" ||
    fail "$(cat "$work/json.out")"
grep -Eq ' module TX AA FF 01 00 00 61 D4 55$' "$work/trace.err" || fail "no search frame traced"
# A module that answers every probe is asked 50 times; each answer is traced.
[[ $(grep -c ' module RX AA ' "$work/trace.err") -eq 50 ]] || fail "expected 50 traced answers"
echo "discover: ok"
