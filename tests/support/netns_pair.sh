#!/bin/bash
# Network namespaces for the tests that must broadcast (the module functions send from
# 192.168.1.54:2000 to 255.255.255.255:5000). Sourced by those test scripts:
#
#   [private host namespace: lo, <prefix>-host HOST/24] <--veth--> [module namespace: <prefix>-module MODULE/24]
#
# The host namespace is the calling script's own (re-run under unshare --net); the module namespace
# is held by a sleeping process. Both vanish with their processes, so nothing reaches the machine's
# own network.

readonly kNetnsSkip=77

# Re-runs the calling script inside a private network namespace, with "--inside" before its
# arguments; exits with the skip code (and the message) where no namespace can be made.
netns_enter_private() {
    local skip_message="$1"
    shift
    if [[ "${1:-}" != "--inside" ]]; then
        if ! unshare --net true 2>/dev/null; then
            echo "SKIPPED: network namespaces cannot be made here (needs root or user namespaces)$skip_message"
            exit "$kNetnsSkip"
        fi
        exec unshare --net --fork -- "$0" --inside "$@"
    fi
    ip link set lo up
}

# Polls a condition for up to about 5 s.
wait_for() {
    local tries=0
    until "$@"; do
        ((++tries > 100)) && return 1
        sleep 0.05
    done
}

netns_holder=""
netns_module=""  # the module namespace, for nsenter --net

# Makes the module namespace and the veth pair between it and this one.
netns_join_module() {
    local prefix="$1" host_side="$2" module_side="$3"
    unshare --net sleep 120 &
    netns_holder=$!
    local own_namespace
    own_namespace="$(readlink /proc/self/ns/net)"
    module_namespace_ready() { [[ "$(readlink "/proc/$netns_holder/ns/net" 2>/dev/null)" != "$own_namespace" ]]; }
    wait_for module_namespace_ready || { echo "FAILED: module namespace did not come up"; exit 1; }
    netns_module="/proc/$netns_holder/ns/net"

    ip link add "$prefix-host" type veth peer name "$prefix-module" netns "$netns_holder"
    ip address add "$host_side/24" dev "$prefix-host"
    ip link set "$prefix-host" up
    # The limited broadcast has no route of its own: send it out through the veth.
    ip route add 255.255.255.255/32 dev "$prefix-host" src "$host_side"

    in_module ip link set lo up
    in_module ip address add "$module_side/24" dev "$prefix-module"
    in_module ip link set "$prefix-module" up
}

# Runs a command in the module namespace. Background servers call nsenter --net="$netns_module"
# themselves, so that $! is the server's own pid.
in_module() { nsenter --net="$netns_module" "$@"; }

# Waits until the host end of the veth carries traffic.
netns_wait_link_up() {
    local prefix="$1"
    host_link_up() { ip link show "$prefix-host" | grep -q 'state UP'; }
    wait_for host_link_up || { echo "FAILED: veth did not come up"; exit 1; }
}

netns_stop() {
    [[ -n "$netns_holder" ]] && kill "$netns_holder" 2>/dev/null || true
}

fail() {
    echo "FAILED: $*"
    exit 1
}

# For the scripts that run zendrik-sim's network module: a work directory (netns_work), removed on
# exit with the module and the namespaces. Called inside the private namespace.
netns_sim_pid=""
netns_work=""
netns_use_work_directory() {
    netns_work="$(mktemp -d)"
    trap netns_cleanup EXIT
}
netns_cleanup() {
    [[ -n "$netns_sim_pid" ]] && kill "$netns_sim_pid" 2>/dev/null || true
    netns_stop
    wait 2>/dev/null || true
    rm -rf "$netns_work"
}

# Makes the module namespace (veth PREFIX, HOST and MODULE addresses) and starts the virtual
# reader SIM in it with its network module (id MODULE_ID) on port 5000; waits until it answers.
netns_start_sim_module() {
    local prefix="$1" host_side="$2" module_side="$3" sim_program="$4" sim_module_id="$5"
    netns_join_module "$prefix" "$host_side" "$module_side"
    nsenter --net="$netns_module" "$sim_program" --module 0.0.0.0:5000 --module-id "$sim_module_id" \
        --hid-socket "$netns_work/hid" >"$netns_work/sim.out" 2>/dev/null &
    netns_sim_pid=$!
    sim_listening() { grep -q '^ZENDRIK_SIM_MODULE=' "$netns_work/sim.out"; }
    wait_for sim_listening || fail "the virtual reader's module did not start"
    netns_wait_link_up "$prefix"
}
