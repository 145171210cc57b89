#!/usr/bin/env bash
# Usage: install_consumers.sh <build dir>
#
# Installs the build into a staging prefix, builds two small consumers against the staged files
# (one with pkg-config, one with find_package(zendrik)), and runs them and the installed zendrik
# program against the installed virtual reader. Checks that the install holds what users expect.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
stage=$work/stage/usr

cmake --install "$build" --prefix "$stage" >/dev/null

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Where things landed.
pc=$(find "$stage" -name zendrik.pc -path '*/pkgconfig/*')
[[ -n $pc ]] || fail "no zendrik.pc"
libdir=$(dirname "$(dirname "$pc")")
[[ -L $libdir/libzendrik.so.1 ]] || fail "no libzendrik.so.1 symlink in $libdir"
[[ -f $(readlink -f "$libdir/libzendrik.so.1") ]] || fail "libzendrik.so.1 points nowhere"
[[ -L $libdir/libzendrik.so ]] || fail "no libzendrik.so development link"
[[ -f $stage/include/zendrik.h ]] || fail "no zendrik.h"
[[ -f $stage/include/zendrik_session.h ]] || fail "no zendrik_session.h"
[[ -f $stage/include/zendrik_session.hpp ]] || fail "no zendrik_session.hpp"
[[ -f $libdir/cmake/zendrik/zendrikConfig.cmake ]] || fail "no CMake package"
[[ -f $stage/lib/udev/rules.d/70-zendrik.rules ]] || fail "no udev rule"
for program in zendrik zendrik-sim; do
    [[ -x $stage/bin/$program ]] || fail "no $program"
done
if [[ -x $stage/bin/ZendrikDemo ]]; then
    [[ -f $stage/share/applications/zendrik-demo.desktop ]] || fail "ZendrikDemo without its desktop file"
    [[ -f $stage/share/pixmaps/zendrik-demo.png ]] || fail "ZendrikDemo without its icon"
fi

# The consumers, built only from what was installed.
PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --exists --print-errors zendrik
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs zendrik)
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror "$here/consumer.c" $flags -o "$work/pkg-config-consumer"
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror "$here/session_consumer.c" $flags -o "$work/session-consumer"
# The C++ wrapper stands on the installed C header alone.
cflags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags zendrik)
# shellcheck disable=SC2086
echo '#include <zendrik_session.hpp>' | c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ - $cflags ||
    fail "zendrik_session.hpp does not compile on its own"
cmake -S "$here/cmake_consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cmake-build" >/dev/null

# The installed virtual reader, and every consumer against it.
"$stage/bin/zendrik-sim" --hid-socket "$work/hid" --kind 2 --tag E2003412013760000000ABCD --round-time 5 \
    >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ZENDRIK_HID_SOCKET=' "$work/sim.out" && break
    sleep 0.1
done
grep -q '^ZENDRIK_HID_SOCKET=' "$work/sim.out" || fail "the virtual reader did not start"
export ZENDRIK_HID_SOCKET=$work/hid LD_LIBRARY_PATH=$libdir

for consumer in "$work/pkg-config-consumer" "$work/cmake-build/cmake-consumer"; do
    output=$("$consumer")
    [[ $output == "reader kind 2" ]] || fail "$(basename "$consumer") printed: $output"
done
"$stage/bin/zendrik" info | grep -Eq '^reader-kind +2$' || fail "the installed zendrik did not reach the reader"
read=$("$work/session-consumer") || fail "the session consumer read nothing"
[[ $read == '{"event":"read",'*'"epc":"e2003412013760000000abcd",'*'"antenna":null,"rssi":null}' ]] ||
    fail "the session consumer printed: $read"
# The Python package (when built: CTest names its interpreter), from where it was installed, with
# the installed library found by its soname through LD_LIBRARY_PATH, as a user's script would.
if [[ -n ${ZENDRIK_TEST_PYTHON:-} ]]; then
    package=$(find "$stage" -path '*/zendrik/__init__.py' -printf '%h\n' | head -n 1)
    [[ $package == "$stage"/lib/* ]] || fail "no Python package below $stage/lib"
    epc=$(env -u ZENDRIK_LIBRARY PYTHONPATH="$(dirname "$package")" PYTHONDONTWRITEBYTECODE=1 "$ZENDRIK_TEST_PYTHON" \
        -c 'import zendrik; print(zendrik.Reader("usb").read_tag().epc.hex())') ||
        fail "the installed Python package read nothing"
    [[ $epc == e2003412013760000000abcd ]] || fail "the installed Python package read $epc"
fi
echo "install, consumers and installed programs: ok"
