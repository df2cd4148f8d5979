#!/bin/bash
# The opposite of heap_check.sh: runs a test program under Wine with heap
# checking on and passes only when Wine reports a heap problem in every
# section the program announces on stderr ("== name"), and the program ran
# to its end ("== done").
#   expect_heap_warning.sh WINE-RUN PROGRAM.exe [ARGS...]
log=$(mktemp)
trap 'rm -f "$log"' EXIT
WINEDEBUG=warn+heap,err+heap "$@" 2>"$log"
rc=$?
cat "$log" >&2
[[ $rc -eq 0 ]] || { echo "FAILED: the program exited with $rc" >&2; exit 1; }
awk '
    { sub(/\r$/, "") }
    /^== / {
        if (name != "" && !warned) { print "FAILED: no heap warning in section: " name; bad = 1 }
        name = substr($0, 4); warned = 0; next
    }
    /(warn|err):heap/ { warned = 1 }
    END {
        if (name != "done") { print "FAILED: the program did not run to its end"; bad = 1 }
        exit bad
    }' "$log"
