#!/bin/bash
# Checks that the Windows example hosts start where the pcap library sits only
# in Npcap's own folder, and that they say clearly what is missing where there
# is none. Runs under Wine with stand-ins for Npcap's wpcap.dll and Packet.dll.
#
#   check_packaged_hosts.sh [--arch x86|x64] [--load-host EXE] DIR
#
# DIR          an unpacked ondrix-<version>-windows folder: x86/ and x64/ with
#              ONDRIX.dll and ondrix-capture.exe
# --arch A     check only DIR/A (default: both)
# --load-host EXE  also run this host built on ondrix.h's OndrixLoad (with one --arch)
#
# ONDRIX_NPCAP_STANDINS_X86  folder with the 32-bit stand-in wpcap.dll and
#                            Packet.dll (default: build/win32/tests/win32/npcap/standin)
# ONDRIX_NPCAP_STANDINS_X64  the same for 64-bit (default: build/win64/...)
# ONDRIX_WINEPREFIX          the Wine prefix, as for scripts/wine-run. Its Npcap
#                            folders are made here and removed again.
#
# The hosts are copied into a fresh folder, so that nothing pcap-like lies
# beside them or in the working folder. Exits non-zero on any failure.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
wine_run=$repo/scripts/wine-run
npcap_sentence='Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds it in its own folder, or anywhere when "Install Npcap in WinPcap API-compatible Mode" is chosen.'
bitness_sentence='ONDRIX.dll in bad does not match this program (error 193): 64-bit Office needs x64\ONDRIX.dll; VB6 and 32-bit Office need x86\ONDRIX.dll.'

usage() {
    echo "usage: $0 [--arch x86|x64] [--load-host EXE] DIR" >&2
    exit 2
}
arches=(x86 x64)
load_host=
while [[ $# -gt 1 ]]; do
    case $1 in
    --arch) [[ ${2:-} == x86 || ${2:-} == x64 ]] || usage; arches=("$2"); shift 2 ;;
    --load-host) [[ -n ${2:-} ]] || usage; load_host=$2; shift 2 ;;
    *) usage ;;
    esac
done
[[ $# -eq 1 && -d $1 ]] || usage
dir=$1
[[ -z $load_host || ${#arches[@]} -eq 1 ]] || { echo "--load-host needs one --arch" >&2; exit 2; }

failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

standins() {
    if [[ $1 == x86 ]]; then
        echo "${ONDRIX_NPCAP_STANDINS_X86:-$repo/build/win32/tests/win32/npcap/standin}"
    else
        echo "${ONDRIX_NPCAP_STANDINS_X64:-$repo/build/win64/tests/win32/npcap/standin}"
    fi
}
for arch in "${arches[@]}"; do
    for f in "$dir/$arch/ONDRIX.dll" "$dir/$arch/ondrix-capture.exe" "$(standins "$arch")/wpcap.dll" \
        "$(standins "$arch")/Packet.dll" ${load_host:+"$load_host"}; do
        [[ -f $f ]] || { echo "missing: $f (the stand-ins come from the win32/win64 builds)" >&2; exit 2; }
    done
done

# Absolute, as the hosts run from folders of their own.
prefix=${ONDRIX_WINEPREFIX:-$repo/build/wineprefix}
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
export ONDRIX_WINEPREFIX=$prefix
"$wine_run" --init || exit 2
windows=$prefix/drive_c/windows
# Where a program of each kind looks for Npcap: 32-bit programs see syswow64
# as their system folder.
npcap_dir() {
    if [[ $1 == x86 && -d $windows/syswow64 ]]; then
        echo "$windows/syswow64/Npcap"
    else
        echo "$windows/system32/Npcap"
    fi
}
remove_npcap() { rm -rf "$(npcap_dir x86)" "$(npcap_dir x64)"; }

work=$(mktemp -d)
trap 'remove_npcap; rm -rf "$work"' EXIT
# Only this script makes Npcap folders: one left by an interrupted run goes.
remove_npcap
for arch in "${arches[@]}"; do
    mkdir -p "$work/$arch/bad"
    cp -L "$dir/$arch/ONDRIX.dll" "$dir/$arch/ondrix-capture.exe" "$work/$arch/"
    [[ -n $load_host ]] && cp -L "$load_host" "$work/$arch/load_host.exe"
    # Not a program at all: Windows refuses it as it refuses a DLL of the other bitness.
    echo "not a DLL" >"$work/$arch/bad/ONDRIX.dll"
done

# Only the Npcap folders may offer a wpcap.dll (Wine's own is refused), and
# Packet.dll is only ever the stand-in.
export WINEDLLOVERRIDES="wpcap,packet=n"

# run ARCH PROGRAM ARGS...: runs it in its own folder; sets out, err and rc.
run() {
    local arch=$1 program=$2
    shift 2
    echo "== $arch\\$program $*"
    rc=0
    out=$(cd "$work/$arch" && timeout 600 "$wine_run" "$work/$arch/$program" "$@" 2>"$work/stderr") || rc=$?
    out=$(tr -d '\r' <<<"$out")
    err=$(tr -d '\r' <"$work/stderr")
    [[ -n $out ]] && printf '%s\n' "$out"
    [[ -n $err ]] && printf 'stderr: %s\n' "$err"
    echo "exit $rc"
}
has_line() { grep -qFx -- "$2" <<<"$1"; }

echo "-- the pcap library only in the Npcap folders"
for arch in "${arches[@]}"; do
    mkdir -p "$(npcap_dir "$arch")"
    cp "$(standins "$arch")/wpcap.dll" "$(standins "$arch")/Packet.dll" "$(npcap_dir "$arch")/"
done
for arch in "${arches[@]}"; do
    run "$arch" ondrix-capture.exe list
    [[ $rc -eq 0 ]] || fail "$arch ondrix-capture list exited $rc"
    has_line "$out" "1 adapter(s)" || fail "$arch ondrix-capture list: not one adapter"
    grep -qF '\Device\NPF_Loopback' <<<"$out" || fail "$arch ondrix-capture list: no stand-in adapter"
    grep -qF 'Npcap Loopback Adapter' <<<"$out" || fail "$arch ondrix-capture list: no description"
    if [[ -n $load_host ]]; then
        run "$arch" load_host.exe missing "bad\\" -
        [[ $rc -eq 0 ]] || fail "$arch load host exited $rc"
        has_line "$out" "missing: ONDRIX.dll was not found in missing." || fail "$arch: no not-found sentence"
        has_line "$out" "bad\\: $bitness_sentence" || fail "$arch: no bitness sentence"
        has_line "$out" "-: loaded" || fail "$arch: ONDRIX.dll not loaded from the host's folder"
        grep -qiE '^wpcap\.dll: .*\\Npcap\\wpcap\.dll$' <<<"$out" || fail "$arch: wpcap.dll not from the Npcap folder"
        grep -qiE '^Packet\.dll: .*\\Npcap\\Packet\.dll$' <<<"$out" || fail "$arch: Packet.dll not from the Npcap folder"
        has_line "$out" '0: \Device\NPF_Loopback (Npcap Loopback Adapter)' || fail "$arch: no adapter through the helper"
    fi
done

echo "-- no pcap library at all"
remove_npcap
for arch in "${arches[@]}"; do
    run "$arch" ondrix-capture.exe list
    [[ $rc -ne 0 ]] || fail "$arch ondrix-capture list succeeded without a pcap library"
    has_line "$err" "$npcap_sentence" || fail "$arch ondrix-capture list: no Npcap sentence"
    if [[ -n $load_host ]]; then
        run "$arch" load_host.exe -
        [[ $rc -ne 0 ]] || fail "$arch load host succeeded without a pcap library"
        has_line "$out" "-: $npcap_sentence" || fail "$arch load host: no Npcap sentence"
    fi
done

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
