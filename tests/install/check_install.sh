#!/usr/bin/env bash
# Installs a build into a staging prefix, moves the prefix elsewhere, and
# builds and runs hosts against what was installed: through pkg-config and
# through find_package(ondrix). Each host must load the installed library,
# not the build tree's, and read the bundled sample completely.
#
#   check_install.sh BUILD_DIR WORK_DIR SOURCE_DIR
# Environment (set by CTest): CMAKE CMAKE_GENERATOR CC CFLAGS LDFLAGS
# PKG_CONFIG PYTHON ONDRIX_VERSION ONDRIX_LIBDIR
set -euo pipefail
build=$1 work=$2 src=$3
here=$src/tests/install
sample=$src/examples/sample.pcap
unset LD_LIBRARY_PATH PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$CMAKE" --install "$build" --prefix "$work/staged" >"$work/install.log"
# Nothing may depend on where the tree was installed.
mv "$work/staged" "$work/prefix"
prefix=$(readlink -f "$work/prefix")
libdir=$prefix/$ONDRIX_LIBDIR

# The library under its real name, the SONAME link and the development link.
real=$libdir/libondrix.so.$ONDRIX_VERSION
[[ -f $real && ! -L $real ]] || fail "$real missing"
[[ $(readlink "$libdir/libondrix.so.${ONDRIX_VERSION%%.*}") == "libondrix.so.$ONDRIX_VERSION" ]] ||
    fail "libondrix.so.${ONDRIX_VERSION%%.*} does not point at libondrix.so.$ONDRIX_VERSION"
[[ -L $libdir/libondrix.so ]] || fail "libondrix.so link missing"
readelf -d "$real" | grep -q "SONAME.*\[libondrix.so.${ONDRIX_VERSION%%.*}\]" || fail "wrong SONAME"
for f in include/ondrix.h include/ondrix_ole.h include/ondrix_load.h bin/ondrix-capture share/ondrix/sample.pcap share/doc/ondrix/LICENSE; do
    [[ -f $prefix/$f ]] || fail "$f not installed"
done

# No installed file may name the build or source tree: text files at all,
# binaries in their run path.
if leaks=$(grep -rIl -e "$build" -e "$src" "$prefix"); then
    fail "installed files name the build or source tree: $leaks"
fi
for f in "$real" "$prefix/bin/ondrix-capture"; do
    if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q -e "$build" -e "$src"; then
        fail "$f has a run path into the build"
    fi
done

expected=$("$PYTHON" - "$sample" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
order = "<" if data[:4] in (b"\xd4\xc3\xb2\xa1", b"\x4d\x3c\xb2\xa1") else ">"
at, packets, total = 24, 0, 0
while at + 16 <= len(data):
    caplen = struct.unpack_from(order + "I", data, at + 8)[0]
    at += 16 + caplen
    packets += 1
    total += caplen
print(f"{packets} packets, {total} bytes")
PY
)

# Runs a host on the sample; it must load libondrix from the prefix.
run_host() {
    local host=$1 resolved out
    resolved=$(ldd "$host" | awk '$1 ~ /^libondrix\.so/ { print $3 }')
    [[ -n $resolved ]] || fail "$host: libondrix not found: $(ldd "$host")"
    resolved=$(readlink -f "$resolved")
    [[ $resolved == "$prefix"/* ]] || fail "$host loads $resolved, not the installed library"
    out=$("$host" "$sample") || fail "$host exited $?"
    [[ $out == "$expected" ]] || fail "$host printed '$out', expected '$expected'"
    echo "$host: $out, library $resolved"
}

# 1. pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
[[ $("$PKG_CONFIG" --modversion ondrix) == "$ONDRIX_VERSION" ]] || fail "pkg-config version"
read -r -a pc_cflags <<<"$("$PKG_CONFIG" --cflags ondrix)"
read -r -a pc_libs <<<"$("$PKG_CONFIG" --libs ondrix)"
read -r -a cflags <<<"${CFLAGS:-}"
read -r -a ldflags <<<"${LDFLAGS:-}"
pc_libdir=$("$PKG_CONFIG" --variable=libdir ondrix)
"$CC" "${cflags[@]}" -Wall -Wextra "${pc_cflags[@]}" -o "$work/host-pkgconfig" "$here/host.c" \
    "${ldflags[@]}" "${pc_libs[@]}" -Wl,-rpath,"$pc_libdir"
run_host "$work/host-pkgconfig"

# 2. find_package
"$CMAKE" -S "$here/consumer" -B "$work/consumer" -G "$CMAKE_GENERATOR" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$CC" -DCMAKE_C_FLAGS="${CFLAGS:-} -Wall -Wextra" \
    -DCMAKE_EXE_LINKER_FLAGS="${LDFLAGS:-}" -DONDRIX_VERSION="$ONDRIX_VERSION" \
    -DONDRIX_HOST_SOURCE="$here/host.c" >"$work/consumer.log"
found=$(sed -n 's/^ondrix_DIR:PATH=//p' "$work/consumer/CMakeCache.txt")
[[ $(readlink -f "$found") == "$prefix"/* ]] || fail "find_package found $found"
"$CMAKE" --build "$work/consumer" >>"$work/consumer.log"
run_host "$work/consumer/host"

# 3. The installed example host finds the library beside it through its run path.
resolved=$(readlink -f "$(ldd "$prefix/bin/ondrix-capture" | awk '$1 ~ /^libondrix\.so/ { print $3 }')")
[[ $resolved == "$prefix"/* ]] || fail "ondrix-capture loads $resolved"
"$prefix/bin/ondrix-capture" capture -r "$prefix/share/ondrix/sample.pcap" >"$work/capture.log" ||
    fail "installed ondrix-capture exited $?"
echo "installed ondrix-capture: $(wc -l <"$work/capture.log") lines, library $resolved"
