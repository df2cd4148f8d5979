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
# --load-host EXE  also run this host built on ondrix.h's OndrixLoad (with one --arch):
#              folders of every kind, modules loaded first, damaged files, the older
#              search with AddDllDirectory hidden, messages cut short (code page 932 too)
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
# fill TEXT VALUE: TEXT with its first %s replaced by VALUE
fill() { printf '%s%s%s' "${1%%"%s"*}" "$2" "${1#*"%s"}"; }

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
# A program's system folder: 32-bit programs see syswow64. sys_name: its Windows name.
sys_dir() {
    if [[ $1 == x86 && -d $windows/syswow64 ]]; then echo "$windows/syswow64"; else echo "$windows/system32"; fi
}
sys_name() { local d; d=$(sys_dir "$1"); echo "C:\\windows\\${d##*/}"; }
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
    mkdir -p "$work/$arch/"{bad,empty,other,second,cwd,onpath,"$host_dir"}
    cp -L "$dir/$arch/ONDRIX.dll" "$dir/$arch/ondrix-capture.exe" "$work/$arch/$host_dir/"
    if [[ -n $load_host ]]; then
        cp -L "$load_host" "$work/$arch/$host_dir/load_host.exe"
        cp -L "$dir/$arch/ONDRIX.dll" "$work/$arch/second/"
        # Not a program at all, and nothing: Windows refuses them as it refuses a DLL of the other
        # bitness, for which Wine's own wpcap.dll of the other machine stands in.
        echo "not a DLL" >"$work/$arch/bad/ONDRIX.dll"
        : >"$work/$arch/empty/ONDRIX.dll"
        machine=i386 && [[ $arch == x86 ]] && machine=x86_64
        cp "/usr/lib/$machine-linux-gnu/wine/$machine-windows/wpcap.dll" "$work/$arch/other/ONDRIX.dll" || exit 2
    fi
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
# says LABEL TEXT: a line of the output is LABEL: TEXT, or starts so.
says() { grep -qF -- "$1: $2" <<<"$out"; }
# expect_listing ARCH FOLDER: the listing names the stand-ins in that folder of
# the program's system folder.
expect_listing() {
    local s
    s=$(sys_name "$1")
    run "$1" ondrix-capture.exe list
    [[ $rc -eq 0 ]] && has_line "$out" "1 adapter(s)" || fail "$1 ondrix-capture list: no adapter"
    has_line "$out" "    Npcap Loopback Adapter ($s$2\wpcap.dll with $s$2\Packet.dll)" ||
        fail "$1 ondrix-capture list: not the pcap library in $s$2"
    has_line "$out" "    (no name): connected, loopback" || fail "$1 ondrix-capture list: Npcap's loopback not connected"
}
# A locale with code page 932 for Wine (package locales), for the load host's messages.
if [[ -n $load_host ]]; then
    mkdir -p "$work/locale"
    localedef -i ja_JP -f SHIFT_JIS --no-warnings=ascii "$work/locale/ja_JP.SJIS" 2>/dev/null ||
        [[ -d $work/locale/ja_JP.SJIS ]] || { echo "localedef made no ja_JP.SJIS locale" >&2; exit 2; }
fi

for arch in "${arches[@]}"; do
    sys=$(sys_dir "$arch") sysname=$(sys_name "$arch")
    echo "-- $arch: Npcap's folder, an old copy in the system folder, planted ones elsewhere"
    mkdir -p "$sys/Npcap"
    cp "$(standins "$arch")"/*.dll "$sys/Npcap/"
    cp "$(standins "$arch")"/*.dll "$sys/"
    expect_listing "$arch" \\Npcap
    if [[ -n $load_host ]]; then
        for f in missing bad empty other second cwd; do declare "$f=$(winpath "$work/$arch/$f")"; done
        host=$(winpath "$work/$arch/$host_dir")
        long="Z:\\$(printf 'a%.0s' {1..250})"
        # With the older search, as Windows 7 without the flags has it: nothing planted is taken.
        run "$arch" load_host.exe old relative "" 'C:relative' '\ONDRIX\x86' '\\' '\\srv\' '\\\x' 'x😀' https://x HTTP://x \
            'C:\' "$long" "$missing" "$bad" "$empty" "$other" + - "${host^^}" "$second"
        for f in relative "" 'C:relative' '\ONDRIX\x86' '\\' '\\srv\' '\\\x' 'x😀'; do
            has_line "$out" "$f: $(fill "$relative_sentence" "$f")" || fail "$arch: $f not refused as relative"
        done
        says https://x "https://x is a web address" && says HTTP://x "HTTP://x is a web address" ||
            fail "$arch: web address not refused"
        says 'C:\' 'ONDRIX.dll was not found in C:\.' || fail "$arch: C:\ not taken as a full path"
        says "$long" "The path of ONDRIX.dll in $long is too long" || fail "$arch: no sentence for a long folder"
        says "$missing" "ONDRIX.dll was not found in $missing." || fail "$arch: no not-found sentence"
        for f in "$bad" "$empty"; do
            says "$f" "ONDRIX.dll in $f is damaged or not a DLL (error 193)" || fail "$arch: $f not reported damaged"
        done
        has_line "$out" "$other: $(fill "$bitness_sentence" "$other")" || fail "$arch: no bitness sentence"
        has_line "$out" "+: loaded" || fail "$arch: OndrixLoadW did not load from its own folder"
        has_line "$out" "-: loaded" || fail "$arch: OndrixLoad(NULL) did not load from its own folder again"
        has_line "$out" "${host^^}: loaded" || fail "$arch: its own folder in capitals taken for another"
        says "$second" "ONDRIX.dll is already loaded in this program from $host\ONDRIX.dll, so $second\ONDRIX.dll can't" ||
            fail "$arch: a second ONDRIX.dll not refused"
        has_line "$out" "wpcap.dll: $sysname\Npcap\wpcap.dll" || fail "$arch: wpcap.dll not from the Npcap folder"
        has_line "$out" "Packet.dll: $sysname\Npcap\Packet.dll" || fail "$arch: Packet.dll not from the Npcap folder"

        # The pcap library loaded as it should be (by a load that finds no ONDRIX.dll), then ONDRIX.dll
        # under another name: Wine hands that module back for the same file by its own name.
        ln "$work/$arch/second/ONDRIX.dll" "$work/$arch/second/renamed.dll"
        run "$arch" load_host.exe "$missing" "@$second\renamed.dll" "$second"
        says "$second" "ONDRIX.dll in $second was loaded, but the program finds another module by that name first" ||
            fail "$arch: a module found under another name taken for ONDRIX.dll"

        run "$arch" load_host.exe "@$cwd\Packet.dll" - "@$cwd\wpcap.dll" -
        for f in Packet wpcap; do
            says - "$cwd\\$f.dll is already loaded: a program in this process loaded it" ||
                fail "$arch: a $f.dll loaded from elsewhere was not refused"
        done

        LOCPATH=$work/locale LANG=ja_JP.SJIS run "$arch" load_host.exe '日本語のフォルダ'
        [[ $rc -eq 1 ]] && has_line "$out" "code page 932" || fail "$arch: messages cut wrong under code page 932"
    fi

    echo "-- $arch: WinPcap-compatible, the system folder only"
    rm -rf "$sys/Npcap"
    expect_listing "$arch" ""

    echo "-- $arch: Npcap's wpcap.dll present but broken"
    mkdir -p "$sys/Npcap"
    echo "not a DLL" >"$sys/Npcap/wpcap.dll"
    run "$arch" ondrix-capture.exe list
    [[ $rc -ne 0 ]] || fail "$arch ondrix-capture list succeeded with a broken Npcap"
    has_line "$err" "$sysname\\Npcap\\wpcap.dll could not be loaded (error 193): repair or reinstall Npcap from https://npcap.com/." ||
        fail "$arch ondrix-capture list: no sentence for a broken Npcap"

    echo "-- $arch: no pcap library at all"
    wine_wpcap remove
    run "$arch" ondrix-capture.exe list
    [[ $rc -ne 0 ]] || fail "$arch ondrix-capture list succeeded without a pcap library"
    has_line "$err" "$npcap_sentence" || fail "$arch ondrix-capture list: no Npcap sentence"

    [[ -n $load_host ]] || continue
    echo "-- $arch: Npcap's wpcap.dll without its Packet.dll"
    mkdir -p "$sys/Npcap" && cp "$(standins "$arch")/wpcap.dll" "$sys/Npcap/"
    run "$arch" load_host.exe old - new - "!$sysname\\Npcap\\wpcap.dll" -
    says - "$sysname\\Npcap\\Packet.dll, which wpcap.dll needs, is missing" || fail "$arch: older search without Packet.dll"
    says - "$sysname\\Npcap\\wpcap.dll could not be loaded (error 126)" || fail "$arch: Packet.dll taken from elsewhere"
    says - "$sysname\\Npcap\\wpcap.dll is already loaded but not ready to run" || fail "$arch: an unbound wpcap.dll used"
    cp "$(standins "$arch")/Packet.dll" "$sys/"
    run "$arch" load_host.exe old "@$sysname\\Packet.dll" -
    has_line "$out" "-: loaded" || fail "$arch: older search wants Packet.dll beside wpcap.dll though one is loaded"
    wine_wpcap remove
done

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all checks passed"
