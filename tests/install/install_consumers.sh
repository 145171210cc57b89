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
udp_sim_pid=
cleanup() {
    [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [[ -n $udp_sim_pid ]] && kill "$udp_sim_pid" 2>/dev/null && wait "$udp_sim_pid" 2>/dev/null
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
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror "$here/poll_consumer.c" $flags -o "$work/poll-consumer"
# The C++ wrapper stands on the installed C header alone.
cflags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags zendrik)
# shellcheck disable=SC2086
echo '#include <zendrik_session.hpp>' | c++ -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ - $cflags ||
    fail "zendrik_session.hpp does not compile on its own"
cmake -S "$here/cmake_consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/cmake-build" >/dev/null

# wait_for_line FILE PREFIX: waits until the program writing FILE has printed a line with PREFIX.
wait_for_line() {
    for _ in $(seq 100); do
        grep -q "^$2" "$1" && return 0
        sleep 0.1
    done
    return 1
}

# The installed virtual reader, and every consumer against it.
"$stage/bin/zendrik-sim" --hid-socket "$work/hid" --kind 2 --tag E2003412013760000000ABCD --round-time 5 \
    >"$work/sim.out" 2>/dev/null &
sim_pid=$!
wait_for_line "$work/sim.out" ZENDRIK_HID_SOCKET= || fail "the virtual reader did not start"
# A second one on UDP, on loopback, for the consumer that watches two readers in one poll().
"$stage/bin/zendrik-sim" --udp 127.0.0.1:0 --serial 2 --tag 300833B2DDD9014000000002 --round-time 5 \
    >"$work/udp-sim.out" 2>/dev/null &
udp_sim_pid=$!
wait_for_line "$work/udp-sim.out" ZENDRIK_SIM_UDP= || fail "the virtual UDP reader did not start"
udp=$(sed -n 's/^ZENDRIK_SIM_UDP=//p' "$work/udp-sim.out")
export ZENDRIK_HID_SOCKET=$work/hid LD_LIBRARY_PATH=$libdir

for consumer in "$work/pkg-config-consumer" "$work/cmake-build/cmake-consumer"; do
    output=$("$consumer")
    [[ $output == "reader kind 2" ]] || fail "$(basename "$consumer") printed: $output"
done
"$stage/bin/zendrik" info | grep -Eq '^reader-kind +2$' || fail "the installed zendrik did not reach the reader"
read=$("$work/session-consumer") || fail "the session consumer read nothing"
[[ $read == '{"event":"read",'*'"epc":"e2003412013760000000abcd",'*'"antenna":null,"rssi":null}' ]] ||
    fail "the session consumer printed: $read"
two=$("$work/poll-consumer" usb "udp:$udp?local=127.0.0.1:0") || fail "the poll consumer failed: $two"
[[ $(grep -c '"event":"read"' <<<"$two") == 6 ]] || fail "the poll consumer printed: $two"
grep -q '^000000000000000000000002: ZR-UHF-S' <<<"$two" || fail "the poll consumer printed no version: $two"
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
# `pip install ./python`, as a user of the source would, with the first interpreter that has pip,
# setuptools and wheel: offline (no index, no build isolation), from a copy of the folder, since pip
# builds in the folder it is given.
pip_checked=no
for python in "${ZENDRIK_TEST_PYTHON:-}" /usr/bin/python3; do
    [[ -n $python ]] && "$python" -c 'import setuptools, wheel' 2>/dev/null && "$python" -m pip --version >/dev/null 2>&1 || continue
    cp -r "$here/../../python" "$work/python-source"
    rm -rf "$work/python-source/build" "$work/python-source/"*.egg-info
    "$python" -m pip install --quiet --no-build-isolation --no-index --no-deps --target "$work/pip" \
        "$work/python-source" >"$work/pip.log" 2>&1 || fail "pip install ./python failed: $(cat "$work/pip.log")"
    [[ -f $work/pip/zendrik/py.typed ]] || fail "pip installed the package without py.typed"
    epc=$(cd "$work" && env -u ZENDRIK_LIBRARY PYTHONPATH="$work/pip" PYTHONDONTWRITEBYTECODE=1 "$python" \
        -c 'import zendrik; print(zendrik.Reader("usb").read_tag().epc.hex())') ||
        fail "the package pip installed read nothing"
    [[ $epc == e2003412013760000000abcd ]] || fail "the package pip installed read $epc"
    pip_checked=yes
    break
done
[[ $pip_checked == yes ]] || echo "note: no Python with pip, setuptools and wheel: pip install ./python not tried"
echo "install, consumers and installed programs: ok"
