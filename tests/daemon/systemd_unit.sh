#!/usr/bin/env bash
# Usage: systemd_unit.sh <zendrikd.service> <zendrikd>
#
# zendrikd's systemd unit as systemd reads it: `systemd-analyze verify` finds nothing to say about
# it (its ExecStart pointed at this build's zendrikd, manual pages not looked for), and
# `systemd-analyze security` rates its exposure at most 4.0. Exit 77 (skipped) without
# systemd-analyze.
set -euo pipefail
command -v systemd-analyze >/dev/null || exit 77
unit=$1
daemon=$2
highest_exposure=4.0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

checked=$work/zendrikd.service
sed "s#^ExecStart=[^ ]*#ExecStart=$daemon#" "$unit" >"$checked"
if ! said=$(systemd-analyze verify --man=no "$checked" 2>&1) || [[ -n $said ]]; then
    echo "FAIL: systemd-analyze verify: $said" >&2
    status=1
fi

report=$(systemd-analyze security --offline=yes "$checked" 2>&1 || true)
exposure=$(sed -n 's/.*Overall exposure level for zendrikd.service: \([0-9.]*\).*/\1/p' <<<"$report")
if [[ -z $exposure ]]; then
    echo "FAIL: no exposure level in: $report" >&2
    status=1
elif ! awk -v exposure="$exposure" -v highest="$highest_exposure" 'BEGIN { exit !(exposure <= highest) }'; then
    grep '✗' <<<"$report" >&2 || true
    echo "FAIL: exposure $exposure, above $highest_exposure" >&2
    status=1
fi
[[ $status -eq 0 ]] && echo "zendrikd.service: verified, exposure $exposure"
exit $status
