#!/bin/bash
# Runs a command inside a private network namespace with loopback up and the
# adapter details tests' veth pairs (make_test_veths.sh). Exits 77 (CTest's
# skip code here) when the namespace can't be made or opening adapters would
# be refused.
#   run_in_netns.sh WINE-RUN PROGRAM [ARGS...]
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: opening adapters through Wine's wpcap needs root" >&2
    exit 77
fi
if ! unshare --net true 2>/dev/null; then
    echo "SKIPPED: no private network namespace can be made here (unshare --net failed)" >&2
    exit 77
fi
# Wine's own adapter list (iphlpapi, and the names Wine's wpcap gives) comes
# from a service of the wineserver, in the namespace that server started in.
# wine-run keeps a server for 30 s, so one left by an earlier test would show
# the machine's adapters, and one started here would show this namespace's
# to later tests: the server is ended before and after.
"$1" --stop-server
veths=$(dirname "$0")/../support/make_test_veths.sh
rc=0
unshare --net bash -c 'ip link set lo up && "$0" || exit 1; exec "$@"' "$veths" "$@" || rc=$?
"$1" --stop-server
exit $rc
