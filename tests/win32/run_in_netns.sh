#!/bin/bash
# Runs a command inside a private network namespace with loopback up and the
# adapter details tests' veth pairs (make_test_veths.sh). Exits 77 (CTest's
# skip code here) when the namespace can't be made or opening adapters would
# be refused.
#   run_in_netns.sh COMMAND [ARGS...]
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: opening adapters through Wine's wpcap needs root" >&2
    exit 77
fi
if ! unshare --net true 2>/dev/null; then
    echo "SKIPPED: no private network namespace can be made here (unshare --net failed)" >&2
    exit 77
fi
veths=$(dirname "$0")/../support/make_test_veths.sh
exec unshare --net bash -c 'ip link set lo up && "$0" || exit 1; exec "$@"' "$veths" "$@"
