#!/usr/bin/env bash
# Usage: package_contents.sh <build dir>
#
# Makes the Debian package from the build with CPack and checks its file list: the library and
# its symlink, the header, the pkg-config file, the CMake package, the udev rule, the programs,
# the manual page, (when the tool is built) the desktop file and icon, and (when the daemon is built)
# zendrikd with its systemd unit and sample configuration.
set -euo pipefail

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
deb=$(find "$work" -maxdepth 1 -name 'zendrik_*.deb' | head -n 1)
[[ -n $deb ]] || { echo "FAIL: no .deb made" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')

expected=(
    '^\./usr/lib/(.*/)?libzendrik\.so\.1\.'
    '^\./usr/lib/(.*/)?libzendrik\.so\.1$'
    '^\./usr/include/zendrik\.h$'
    '^\./usr/include/zendrik_session\.h$'
    '^\./usr/include/zendrik_session\.hpp$'
    '^\./usr/lib/(.*/)?pkgconfig/zendrik\.pc$'
    '^\./usr/lib/(.*/)?cmake/zendrik/zendrikConfig\.cmake$'
    '^\./usr/lib/udev/rules\.d/70-zendrik\.rules$'
    '^\./usr/bin/zendrik$'
    '^\./usr/bin/zendrik-sim$'
)
grep -q 'zendrikd' <<<"$contents" && expected+=(
    '^\./usr/sbin/zendrikd$'
    '^\./usr/lib/systemd/system/zendrikd\.service$'
    '^\./usr/share/doc/zendrik/examples/zendrikd\.toml$'
)
grep -q 'ZendrikDemo' <<<"$contents" && expected+=(
    '^\./usr/bin/ZendrikDemo$'
    '^\./usr/share/applications/zendrik-demo\.desktop$'
    '^\./usr/share/pixmaps/zendrik-demo\.png$'
)
command -v help2man >/dev/null && expected+=('^\./usr/share/man/man1/zendrik\.1')

status=0
for pattern in "${expected[@]}"; do
    if ! grep -Eq "$pattern" <<<"$contents"; then
        echo "FAIL: nothing in $(basename "$deb") matches $pattern" >&2
        status=1
    fi
done
[[ $status -eq 0 ]] && echo "$(basename "$deb"): $(wc -l <<<"$contents") entries, all expected files present"
exit $status
