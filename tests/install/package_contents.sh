#!/usr/bin/env bash
# Usage: package_contents.sh <build dir>
#
# Makes the Debian packages from the build with CPack and checks the split: the packages made, every
# file in the package it belongs to and every package holding what it must, the dependencies between
# them (Qt only in zendrik-demo's), libzendrik1's shlibs entry and ldconfig trigger, every package's
# copyright file and changelog (of this version), and what lintian says of them when it is
# installed: no error and no warning beyond the known ones below. Then installs them together into a
# scratch root with dpkg, over a stand-in for the single package of earlier versions, checks that
# their dependencies are met, runs the programs there against the library from libzendrik1 and
# builds a consumer with the development files from libzendrik-dev. The machine itself is not changed.
# KEEP=1 leaves the work directory (packages, scratch root, logs) for a look.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/debs" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    exit 1
}
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")

# What this build made decides what the packages must hold.
has_cli=$([[ -x $build/cli/zendrik ]] && echo 1 || true)
has_daemon=$([[ -x $build/daemon/zendrikd ]] && echo 1 || true)
has_tool=$([[ -x $build/tool/ZendrikDemo ]] && echo 1 || true)
has_man=$(command -v help2man >/dev/null && echo 1 || true)
lib='/usr/lib/([^/]+/)?'

# Every file a package may hold, as one extended regular expression per package.
declare -A allowed=(
    [libzendrik1]="^${lib}libzendrik\.so\.1(\.[0-9]+)*$|^/usr/lib/udev/rules\.d/70-zendrik\.rules$"
    [libzendrik-dev]="^/usr/include/zendrik(_session)?\.hp?p?$|^${lib}libzendrik\.so$|^${lib}pkgconfig/zendrik\.pc$|^${lib}cmake/zendrik/"
    [zendrik-tools]="^/usr/bin/(zendrik|zendrik-sim)$|^/usr/sbin/zendrikd$|^/usr/share/man/man1/(zendrik|zendrik-sim)\.1\.gz$|^/usr/share/man/man8/zendrikd\.8\.gz$|^/usr/lib/systemd/system/zendrikd\.service$|^/usr/share/doc/zendrik/examples/zendrikd\.toml$|^/usr/share/zendrik/console/[a-z_]+\.(html|js|css|svg)$|^/usr/share/zendrik/prometheus/zendrik-alerts\.yml$"
    [zendrik-demo]="^/usr/bin/ZendrikDemo$|^/usr/share/applications/zendrik-demo\.desktop$|^/usr/share/pixmaps/zendrik-demo\.png$|^/usr/share/man/man1/ZendrikDemo\.1\.gz$"
    [python3-zendrik]="^/usr/lib/python3/dist-packages/"
)

# Every package's copyright file and changelog, in its own documentation folder.
for package in "${!allowed[@]}"; do
    allowed[$package]+="|^/usr/share/doc/$package/(copyright|changelog\.gz)\$"
done

# What each package must hold, one pattern a line.
declare -A required=()
require() {
    local package=$1 pattern
    shift
    for pattern in "$@"; do required[$package]+=$pattern$'\n'; done
}
require libzendrik1 "^${lib}libzendrik\.so\.1\." "^${lib}libzendrik\.so\.1$" '^/usr/lib/udev/rules\.d/70-zendrik\.rules$'
require libzendrik-dev '^/usr/include/zendrik\.h$' "^${lib}libzendrik\.so$" "^${lib}pkgconfig/zendrik\.pc$" \
    "^${lib}cmake/zendrik/zendrikConfig\.cmake$" "^${lib}cmake/zendrik/zendrikTargets\.cmake$"
require libzendrik-dev '^/usr/include/zendrik_session\.h$' '^/usr/include/zendrik_session\.hpp$'
require zendrik-tools '^/usr/bin/zendrik-sim$'
[[ -n $has_man ]] && require zendrik-tools '^/usr/share/man/man1/zendrik-sim\.1\.gz$'
[[ -n $has_cli ]] && require zendrik-tools '^/usr/bin/zendrik$'
[[ -n $has_cli && -n $has_man ]] && require zendrik-tools '^/usr/share/man/man1/zendrik\.1\.gz$'
[[ -n $has_daemon ]] && require zendrik-tools '^/usr/sbin/zendrikd$' '^/usr/lib/systemd/system/zendrikd\.service$' \
    '^/usr/share/doc/zendrik/examples/zendrikd\.toml$' '^/usr/share/zendrik/console/index\.html$' \
    '^/usr/share/zendrik/console/app\.js$' '^/usr/share/zendrik/prometheus/zendrik-alerts\.yml$'
[[ -n $has_daemon && -n $has_man ]] && require zendrik-tools '^/usr/share/man/man8/zendrikd\.8\.gz$'
require zendrik-demo '^/usr/bin/ZendrikDemo$' '^/usr/share/applications/zendrik-demo\.desktop$' \
    '^/usr/share/pixmaps/zendrik-demo\.png$' '^/usr/share/man/man1/ZendrikDemo\.1\.gz$'
require python3-zendrik '^/usr/lib/python3/dist-packages/zendrik/__init__\.py$'
for package in "${!allowed[@]}"; do
    require "$package" "^/usr/share/doc/$package/copyright\$" "^/usr/share/doc/$package/changelog\.gz\$"
done

expected_packages=(libzendrik1 libzendrik-dev zendrik-tools)
[[ -n $has_tool ]] && expected_packages+=(zendrik-demo)
# CTest names the interpreter when the Python package is built.
[[ -n ${ZENDRIK_TEST_PYTHON:-} ]] && expected_packages+=(python3-zendrik)

declare -A deb_of=()
for deb in "$work"/debs/*.deb; do
    deb_of[$(dpkg-deb -f "$deb" Package)]=$deb
done
for package in "${expected_packages[@]}"; do
    [[ -n ${deb_of[$package]:-} ]] || fail "no $package package"
done
for package in "${!deb_of[@]}"; do
    [[ -n ${allowed[$package]:-} ]] || fail "a package nobody asked for: $package (an install rule without a component?)"
done

depends_of() { dpkg-deb -f "${deb_of[$1]}" Depends; }

for package in "${!deb_of[@]}"; do
    [[ -n ${allowed[$package]:-} ]] || continue
    files=$(dpkg-deb -c "${deb_of[$package]}" | awk '{ print substr($6, 2) }' | grep -v '/$' || true)
    while IFS= read -r file; do
        [[ -z $file ]] || grep -Eq "${allowed[$package]}" <<<"$file" || fail "$file does not belong in $package"
    done <<<"$files"
    while IFS= read -r pattern; do
        [[ -z $pattern ]] || grep -Eq "$pattern" <<<"$files" || fail "nothing in $package matches $pattern"
    done <<<"${required[$package]}"

    depends=$(depends_of "$package")
    if [[ $package != libzendrik1 ]]; then
        grep -Fq "libzendrik1 (= $version)" <<<"$depends" || fail "$package does not depend on libzendrik1 (= $version): $depends"
    fi
    if [[ $package == zendrik-demo ]]; then
        grep -q 'libqt6' <<<"$depends" || fail "zendrik-demo does not depend on Qt: $depends"
        grep -q 'fonts-wqy-microhei' <<<"$depends" || fail "zendrik-demo does not depend on the CJK font"
    else
        grep -q -i 'qt' <<<"$depends" && fail "$package depends on Qt: $depends"
    fi
    [[ $package == python3-zendrik ]] && ! grep -Eq '(^|, )python3(,|$| )' <<<"$depends" &&
        fail "python3-zendrik does not depend on python3: $depends"
done
grep -Eq "libc6 \(" <<<"$(depends_of libzendrik1)" || fail "libzendrik1 has no shared-library dependencies"
shlibs=$(dpkg-deb -I "${deb_of[libzendrik1]}" shlibs 2>/dev/null || true)
[[ $shlibs == "libzendrik 1 libzendrik1 (>= $version)" ]] || fail "libzendrik1's shlibs entry is: $shlibs"
triggers=$(dpkg-deb -I "${deb_of[libzendrik1]}" triggers 2>/dev/null || true)
[[ $triggers == "activate-noawait ldconfig" ]] || fail "libzendrik1's triggers are: $triggers"
for package in "${!deb_of[@]}"; do
    dpkg-deb --fsys-tarfile "${deb_of[$package]}" | tar -xO "./usr/share/doc/$package/changelog.gz" 2>/dev/null |
        gzip -dc >"$work/changelog" 2>/dev/null || true
    changed=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>/dev/null || true)
    [[ $changed == "$version" ]] || fail "the latest entry of $package's changelog is for \"$changed\", not $version"
    conflicts=$(dpkg-deb -f "${deb_of[$package]}" Conflicts)
    replaces=$(dpkg-deb -f "${deb_of[$package]}" Replaces)
    [[ $conflicts == zendrik && $replaces == zendrik ]] ||
        fail "$package does not replace the old zendrik package: Conflicts: $conflicts, Replaces: $replaces"
done

# lintian: no errors, and no warnings but these, each for a reason:
#   maintscript-calls-ldconfig  CPack writes a postinst and postrm that call ldconfig for every
#                               shared library it packs; the ldconfig trigger does the same
#   pkg-config-unavailable-for-cross-compilation
#                               a build configured for a prefix other than /usr installs into lib/,
#                               not the multiarch folder; scripts/package configures /usr
if command -v lintian >/dev/null; then
    known='maintscript-calls-ldconfig|pkg-config-unavailable-for-cross-compilation'
    lintian "${deb_of[@]}" >"$work/lintian.log" 2>&1 || true
    while IFS= read -r hint; do
        fail "lintian: $hint"
    done < <(grep -E '^[EW]: ' "$work/lintian.log" | grep -Ev "^W: [^ ]+ ($known)( |\$)" || true)
fi

[[ $status -eq 0 ]] || exit 1

# The scratch root: dpkg's database starts as a copy of this machine's, so that the dependencies on
# Debian's packages count as met by what is installed here.
root=$work/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
touch "$admin/available"
dpkg_root() {
    dpkg --root="$root" --log="$work/dpkg.log" --force-not-root "$@" >"$work/dpkg.out" 2>&1 || {
        cat "$work/dpkg.out" >&2
        exit 1
    }
}

# Earlier versions came as one package, zendrik, holding the same files: its successors replace it.
mkdir -p "$work/old/DEBIAN" "$work/old/usr/bin"
printf 'Package: zendrik\nVersion: 0.9\nArchitecture: all\nMaintainer: x <x@localhost>\nDescription: old\n' \
    >"$work/old/DEBIAN/control"
touch "$work/old/usr/bin/zendrik-sim"
dpkg-deb --build "$work/old" "$work/old.deb" >/dev/null
dpkg_root --install "$work/old.deb"

dpkg_root --unpack "${deb_of[@]}"
[[ $(dpkg-query --admindir="$admin" -W -f '${db:Status-Status}' zendrik 2>/dev/null) == not-installed ]] ||
    fail "the old zendrik package is still installed"
# The maintainer scripts (libzendrik1 runs ldconfig) would run chrooted in the scratch root, so the
# dependencies are checked against the same database instead, with the new packages counted in.
sed -i 's/^Status: install ok unpacked$/Status: install ok installed/' "$admin/status"
printf 'Source: check\n\nPackage: check\nArchitecture: any\n' >"$work/control"
for package in "${!deb_of[@]}"; do
    dpkg-checkbuilddeps --admindir="$admin" -d "$(depends_of "$package")" "$work/control" 2>&1 ||
        fail "dependencies of $package not met"
done

libdir=$(dirname "$(find "$root/usr/lib" -name 'libzendrik.so.1' | head -n 1)")
programs=("$root/usr/bin/zendrik-sim")
[[ -n $has_cli ]] && programs+=("$root/usr/bin/zendrik")
[[ -n $has_daemon ]] && programs+=("$root/usr/sbin/zendrikd")
for program in "${programs[@]}"; do
    LD_LIBRARY_PATH=$libdir "$program" --version | grep -Fq "$version" || fail "$(basename "$program") does not run from the scratch root"
done
if [[ -n ${deb_of[python3-zendrik]:-} ]]; then
    env -u ZENDRIK_LIBRARY PYTHONPATH=$root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$libdir PYTHONDONTWRITEBYTECODE=1 \
        "${ZENDRIK_TEST_PYTHON:-python3}" -c 'import zendrik._native as native; native.library()' ||
        fail "python3-zendrik does not load the library from libzendrik1"
fi
pc_dir=$(dirname "$(find "$root/usr/lib" -name zendrik.pc)")
grep -qx 'prefix=/usr' "$pc_dir/zendrik.pc" || fail "zendrik.pc does not name prefix=/usr"
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$pc_dir pkg-config --cflags --libs zendrik)
# shellcheck disable=SC2086
cc -Wall -Wextra -Werror "$here/consumer.c" $flags -o "$work/consumer" || fail "no consumer builds against libzendrik-dev"

[[ $status -eq 0 ]] && echo "${#deb_of[@]} packages (${!deb_of[*]}): contents, dependencies and install in a scratch root ok"
exit $status
