#!/bin/bash
# Runs a test program under Wine with heap checking on, and fails when Wine
# reports anything about the heap: a bad free or a damaged block shows here
# even where the program itself goes on.
#   heap_check.sh WINE-RUN PROGRAM.exe [ARGS...]
log=$(mktemp)
trap 'rm -f "$log"' EXIT
WINEDEBUG=warn+heap,err+heap "$@" 2>"$log"
rc=$?
if grep -E '(warn|err):heap' "$log"; then
    echo "FAILED: Wine reported heap problems" >&2
    exit 1
fi
exit $rc
