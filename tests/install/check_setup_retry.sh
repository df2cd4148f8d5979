#!/usr/bin/env bash
# scripts/setup against a package mirror in mid-sync, played by an apt-get
# that always fails: it must retry the update, try the install anyway, and
# end with the sentence that says what to do.
#   check_setup_retry.sh SETUP WORK_DIR
set -euo pipefail
setup=$1 work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work/bin"
stub() { printf '#!/bin/sh\n%s\n' "$2" >"$work/bin/$1" && chmod +x "$work/bin/$1"; }
stub apt-get "echo \"apt-get \$*\" >>'$work/calls'; exit 100"
stub dpkg-query "exit 1" # every package missing
stub dpkg "echo i386"
stub sudo 'exec "$@"'
if PATH="$work/bin:$PATH" SETUP_RETRY_DELAY=0 "$setup" >"$work/out" 2>&1; then
    fail "setup succeeded although every apt-get failed"
fi
[[ $(grep -c '^apt-get update' "$work/calls") == 3 ]] || fail "the update was not tried 3 times"
grep -q '^apt-get install' "$work/calls" || fail "the install was not tried after the failed updates"
tail -n 1 "$work/out" | grep -q 'mid-sync.*run scripts/setup again' || fail "no closing sentence: $(tail -n 1 "$work/out")"
