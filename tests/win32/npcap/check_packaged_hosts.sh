#!/bin/bash
# Checks that the Windows example hosts take the pcap library only from where
# Npcap or WinPcap put it, never from a copy planted in the current folder, on
# PATH or beside the program, and that they say clearly what is wrong where
# it is missing or broken. Runs under Wine with stand-ins for wpcap.dll and
# Packet.dll that name the files they were loaded from.
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
# The hosts are copied into a fresh folder whose name the ANSI code page can't
# spell. Exits non-zero on any failure.
set -uo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
wine_run=$repo/scripts/wine-run
npcap_sentence='Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds it in its own folder, or anywhere when "Install Npcap in WinPcap API-compatible Mode" is chosen.'
relative_sentence='ONDRIX.dll'"'"'s folder must be a full path such as C:\ONDRIX\x86, not "%s" (a new workbook or document has no folder until it is saved).'
bitness_sentence='ONDRIX.dll in %s does not match this program (error 193): 64-bit Office needs x64\ONDRIX.dll; VB6 and 32-bit Office need x86\ONDRIX.dll.'

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
# A program's system folder: 32-bit programs see syswow64.
sys_dir() {
    if [[ $1 == x86 && -d $windows/syswow64 ]]; then echo "$windows/syswow64"; else echo "$windows/system32"; fi
}
# Wine's own wpcap.dll in the system folders would count as an old WinPcap:
# it is taken away for the checks and put back from Wine's install after.
wine_wpcap() {
    local d
    for d in system32:x86_64 syswow64:i386; do
        rm -rf "$windows/${d%:*}/Npcap" "$windows/${d%:*}/wpcap.dll" "$windows/${d%:*}/Packet.dll"
        [[ $1 == restore && -d $windows/${d%:*} ]] &&
            cp "/usr/lib/${d#*:}-linux-gnu/wine/${d#*:}-windows/wpcap.dll" "$windows/${d%:*}/" 2>/dev/null
    done
    return 0
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

work=$(mktemp -d)
trap 'wine_wpcap restore; rm -rf "$work"' EXIT
wine_wpcap remove
host_dir=Перехват
for arch in "${arches[@]}"; do
    mkdir -p "$work/$arch/bad" "$work/$arch/cwd" "$work/$arch/onpath" "$work/$arch/$host_dir"
    cp -L "$dir/$arch/ONDRIX.dll" "$dir/$arch/ondrix-capture.exe" "$work/$arch/$host_dir/"
    [[ -n $load_host ]] && cp -L "$load_host" "$work/$arch/$host_dir/load_host.exe"
    # Not a program at all: Windows refuses it as it refuses a DLL of the other bitness.
    echo "not a DLL" >"$work/$arch/bad/ONDRIX.dll"
    # Planted copies: a search by bare name would find them.
    cp "$(standins "$arch")"/*.dll "$work/$arch/cwd/"
    cp "$(standins "$arch")"/*.dll "$work/$arch/onpath/"
    cp "$(standins "$arch")/Packet.dll" "$work/$arch/$host_dir/"
done

# Packet.dll is only ever the stand-in, wpcap.dll never Wine's own; file names
# are read as UTF-8, so the program's folder keeps its Cyrillic name.
export WINEDLLOVERRIDES="wpcap,packet=n" LANG=C.UTF-8

# run ARCH PROGRAM ARGS...: runs it in the current folder with the planted
# copies, and their twins on PATH; sets out, err and rc.
run() {
    local arch=$1 program=$2
    shift 2
    echo "== $arch\\$program $*"
    rc=0
    out=$(cd "$work/$arch/cwd" && WINEPATH=$(winpath "$work/$arch/onpath") timeout 600 "$wine_run" \
        "$work/$arch/$host_dir/$program" "$@" 2>"$work/stderr") || rc=$?
    out=$(tr -d '\r' <<<"$out")
    err=$(tr -d '\r' <"$work/stderr")
    [[ -n $out ]] && printf '%s\n' "$out"
    [[ -n $err ]] && printf 'stderr: %s\n' "$err"
    echo "exit $rc"
}
has_line() { grep -qFx -- "$2" <<<"$1"; }
# expect_listing ARCH FOLDER: the listing names the stand-ins in that folder of
# system32, which is how a 32-bit program names syswow64 too.
expect_listing() {
    run "$1" ondrix-capture.exe list
    [[ $rc -eq 0 ]] && has_line "$out" "1 adapter(s)" || fail "$1 ondrix-capture list: no adapter"
    grep -qiE "^ +Npcap Loopback Adapter \(C:.windows.system32$2.wpcap\.dll with C:.windows.system32$2.Packet\.dll\)$" <<<"$out" ||
        fail "$1 ondrix-capture list: not the pcap library in system32$2"
}

for arch in "${arches[@]}"; do
    sys=$(sys_dir "$arch")
    echo "-- $arch: Npcap's folder, an old copy in the system folder, planted ones elsewhere"
    mkdir -p "$sys/Npcap"
    cp "$(standins "$arch")"/*.dll "$sys/Npcap/"
    cp "$(standins "$arch")"/*.dll "$sys/"
    expect_listing "$arch" .Npcap
    if [[ -n $load_host ]]; then
        missing=$(winpath "$work/$arch/missing") bad=$(winpath "$work/$arch/bad")
        run "$arch" load_host.exe relative "" "$missing" "$bad" + -
        has_line "$out" "relative: ${relative_sentence/\%s/relative}" || fail "$arch: relative folder not refused"
        has_line "$out" ": ${relative_sentence/\%s/}" || fail "$arch: empty folder not refused"
        has_line "$out" "$missing: ONDRIX.dll was not found in $missing." || fail "$arch: no not-found sentence"
        has_line "$out" "$bad: ${bitness_sentence/\%s/$bad}" || fail "$arch: no bitness sentence"
        has_line "$out" "+: loaded" || fail "$arch: OndrixLoadW did not load from its own folder"
        has_line "$out" "-: loaded" || fail "$arch: OndrixLoad(NULL) did not load from its own folder"
        grep -qiE '^wpcap\.dll: .*\\Npcap\\wpcap\.dll$' <<<"$out" || fail "$arch: wpcap.dll not from the Npcap folder"
        grep -qiE '^Packet\.dll: .*\\Npcap\\Packet\.dll$' <<<"$out" || fail "$arch: Packet.dll not from the Npcap folder"
    fi

    echo "-- $arch: WinPcap-compatible, the system folder only"
    rm -rf "$sys/Npcap"
    expect_listing "$arch" ""

    echo "-- $arch: Npcap's wpcap.dll present but broken"
    mkdir -p "$sys/Npcap"
    echo "not a DLL" >"$sys/Npcap/wpcap.dll"
    run "$arch" ondrix-capture.exe list
    [[ $rc -ne 0 ]] || fail "$arch ondrix-capture list succeeded with a broken Npcap"
    has_line "$err" "C:\\windows\\system32\\Npcap\\wpcap.dll could not be loaded (error 193): repair or reinstall Npcap from https://npcap.com/." ||
        fail "$arch ondrix-capture list: no sentence for a broken Npcap"

    echo "-- $arch: no pcap library at all"
    wine_wpcap remove
    run "$arch" ondrix-capture.exe list
    [[ $rc -ne 0 ]] || fail "$arch ondrix-capture list succeeded without a pcap library"
    has_line "$err" "$npcap_sentence" || fail "$arch ondrix-capture list: no Npcap sentence"
done

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
